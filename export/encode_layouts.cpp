// The converter's encoders: every layout anyone writes. The plug-in never
// refers to this table, so the mip chain, VQ and codebook training stay out
// of it.
#include "alloc.h"
#include "encode.h"
#include "encode_mip.h"
#include "encode_vq.h"

namespace {

// The layer's colours for the encoders that work on a whole picture.
int EncodePicture(const EncodeSource& source, const TexelLayout& layout, uint8_t* texels, size_t capacity) {
    uint32_t* picture = ReadLayerColours(source.services, source.image, kHeapAllocator);
    if (!picture) return kEncodeNoMemory;
    const size_t count = (size_t)layout.width * layout.height;
    const int result = layout.decoder == kDecoderTwiddled
                           ? EncodeMipChain(picture, count, layout.width, layout.dataType, layout.colorFormat, texels, capacity)
                           : EncodeVqTexels(picture, count, layout.width, layout.dataType, layout.colorFormat,
                                            kVqTrained, texels, capacity);
    kHeapAllocator.Free(kHeapAllocator.context, picture);
    return result == 0 ? (int)kEncodeOk : (int)kEncodeNoMemory;
}

}  // namespace

const LayoutEncoders kConverterEncoders = {kWrittenByConverter, EncodeTwiddledLayout, EncodePicture,
                                           EncodeRectangleLayout, EncodePicture};
