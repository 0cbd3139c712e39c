// The converter's encoders: every layout anyone writes. The plug-in never
// refers to this table, so the mip chain, VQ and codebook training stay out
// of it.
#include <string.h>

#include "alloc.h"
#include "encode.h"
#include "encode_mip.h"
#include "encode_vq.h"

namespace {

// The layer's colours for the encoders that work on a whole picture.
int EncodePicture(const EncodeSource& source, const TexelLayout& layout, uint8_t* texels, size_t capacity) {
    const Allocator& heap = *source.allocator;
    uint32_t* picture = ReadLayerColours(source.services, source.image, heap);
    if (!picture) return kEncodeNoMemory;
    const size_t count = (size_t)layout.width * layout.height;
    TexelReference* ref = source.reference;
    int result;
    if (layout.decoder == kDecoderTwiddled) {
        result = EncodeMipChain(picture, count, layout.width, layout.dataType, layout.colorFormat, texels, capacity, heap);
    } else if (ref && ref->texels && ref->changed) {
        // The codebook of the texture being replaced stays.
        VqKeptCost cost;
        result = EncodeVqOnCodebook(picture, count, layout.width, layout.dataType, layout.colorFormat, ref->texels,
                                    ref->texelLength, ref->changed, texels, capacity, &cost, heap);
        ref->changedBlocks = cost.changedBlocks;
        ref->blockError = cost.changedError;
        ref->keptBlocks = cost.keptBlocks;
        ref->keptError = cost.keptError;
        ref->codebookKept = result == 0;
        if (result == 0 && cost.changedBlocks > 0) {
            // A codebook trained anew changes every block; it is taken only
            // where it is clearly better over the whole picture: less than
            // half the kept one's squared error.
            uint8_t* trained = (uint8_t*)Acquire(heap, (size_t)layout.needed);
            uint64_t trainedError = 0;
            if (trained &&
                EncodeVqTexels(picture, count, layout.width, layout.dataType, layout.colorFormat, kVqTrained, trained,
                               (size_t)layout.needed, heap) == 0 &&
                VqPictureError(picture, count, layout.width, layout.dataType, layout.colorFormat, trained,
                               (size_t)layout.needed, &trainedError) == 0 &&
                2 * trainedError < cost.changedError + cost.keptError) {
                memcpy(texels, trained, (size_t)layout.needed);
                ref->codebookKept = false;
            }
            ref->trainedError = trainedError;
            Release(heap, trained);
        }
        if (result != 0)
            result = EncodeVqTexels(picture, count, layout.width, layout.dataType, layout.colorFormat, kVqTrained,
                                    texels, capacity, heap);
    } else {
        result = EncodeVqTexels(picture, count, layout.width, layout.dataType, layout.colorFormat, kVqTrained, texels,
                                capacity, heap);
    }
    Release(heap, picture);
    return result == 0 ? (int)kEncodeOk : (int)kEncodeNoMemory;
}

}  // namespace

const LayoutEncoders kConverterEncoders = {kWrittenByConverter, EncodeTwiddledLayout, EncodePicture,
                                           EncodeRectangleLayout, EncodePicture};
