// The paint program's side of the plug-in interface: its image record, layer
// record and table of service routines, as the plug-ins see them. The offsets
// below are those of the 32-bit host; the 64-bit test build uses the natural
// layout of the same declarations.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define PB_STDCALL __stdcall
#elif defined(_WIN32)
#define PB_STDCALL
#else
#define PB_STDCALL
#endif

// Room for the layer name: everything from 0x04 up to nLeft at 0x410.
enum { kLayerNameRoom = 0x410 - 0x04 };

struct HostLayer {
    uint32_t reserved0;            // 0x00
    char szName[kLayerNameRoom];   // 0x04, zero-terminated
    int32_t nLeft;                 // 0x410
    int32_t nTop;                  // 0x414
    int32_t nRight;                // 0x418, exclusive
    int32_t nBottom;               // 0x41C, exclusive
};

struct HostImage {
    uint32_t reserved0;            // 0x00
    int32_t nColorMode;            // 0x04: 1 two-colour, 2 grey, 3 indexed, other direct
    HostLayer* pLayer;             // 0x08, may be null
    int32_t nLayerCount;           // 0x0C
    uint32_t reserved10[4];        // 0x10
    uint32_t aPalette[256];        // 0x20: bytes blue, green, red, alpha (0xAARRGGBB)
    int32_t nPaletteCount;         // 0x420
    int32_t nTransparentIndex;     // 0x424
    int32_t bAlpha;                // 0x428
};

enum {
    kColorModeTwoColour = 1,
    kColorModeGrey = 2,
    kColorModeIndexed = 3,
    kColorModeDirect = 4,   // 0xAARRGGBB colours (any mode the others are not)
};

typedef void(PB_STDCALL* HostCreateIndexedImageFn)(HostImage* image, int32_t width, int32_t height);
typedef void(PB_STDCALL* HostCreateColorImageFn)(HostImage* image, int32_t width, int32_t height,
                                                  int32_t one, int32_t zero);
typedef void(PB_STDCALL* HostSetImagePixelFn)(HostImage* image, int32_t zero, int32_t x, int32_t y,
                                               uint32_t value);
typedef uint32_t(PB_STDCALL* HostGetImagePixelFn)(HostImage* image, int32_t zero, int32_t x, int32_t y);
typedef void(PB_STDCALL* HostBeginProgressFn)(int32_t zero, int32_t rows);
typedef void(PB_STDCALL* HostStepProgressFn)(int32_t row);
typedef void(PB_STDCALL* HostEndProgressFn)(void);

// Slots 0-2, 5 and 8 are the host's own and are never called.
struct HostServices {
    void* slot0;
    void* slot1;
    void* slot2;
    HostCreateIndexedImageFn CreateIndexedImage;   // slot 3
    HostCreateColorImageFn CreateColorImage;       // slot 4
    void* slot5;
    HostSetImagePixelFn SetImagePixel;             // slot 6
    HostGetImagePixelFn GetImagePixel;             // slot 7
    void* slot8;
    HostBeginProgressFn BeginProgress;             // slot 9
    HostStepProgressFn StepProgress;               // slot 10
    HostEndProgressFn EndProgress;                 // slot 11
};

// Plug-in kinds returned by PB_GetPluginInfo.
enum { kPluginKindImport = 2, kPluginKindExport = 3 };

// Status codes of PBI_Execute and PBE_Execute.
enum {
    kStatusDone = 0,
    kStatusNoMemory = 1,          // export: no memory for the texture buffer or container
    kStatusReadFailed = 2,        // import: texture file not read (or path unusable)
    kStatusWriteFailed = 3,       // export: texture file not created, written or replaced
    kStatusUnsupported = 4,       // bad magic, malformed texture, bad size or settings
    kStatusPaletteFailed = 5,     // export: palette file not created or written
    kStatusCancelled = 7,         // cancelled, or an image with more than one layer
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(HostImage, nColorMode) == 0x04, "nColorMode");
static_assert(offsetof(HostImage, pLayer) == 0x08, "pLayer");
static_assert(offsetof(HostImage, nLayerCount) == 0x0C, "nLayerCount");
static_assert(offsetof(HostImage, aPalette) == 0x20, "aPalette");
static_assert(offsetof(HostImage, nPaletteCount) == 0x420, "nPaletteCount");
static_assert(offsetof(HostImage, nTransparentIndex) == 0x424, "nTransparentIndex");
static_assert(offsetof(HostImage, bAlpha) == 0x428, "bAlpha");
static_assert(offsetof(HostLayer, szName) == 0x04, "szName");
static_assert(offsetof(HostLayer, nLeft) == 0x410, "nLeft");
static_assert(offsetof(HostLayer, nTop) == 0x414, "nTop");
static_assert(offsetof(HostLayer, nRight) == 0x418, "nRight");
static_assert(offsetof(HostLayer, nBottom) == 0x41C, "nBottom");
static_assert(offsetof(HostServices, CreateIndexedImage) == 0x0C, "slot 3");
static_assert(offsetof(HostServices, CreateColorImage) == 0x10, "slot 4");
static_assert(offsetof(HostServices, SetImagePixel) == 0x18, "slot 6");
static_assert(offsetof(HostServices, GetImagePixel) == 0x1C, "slot 7");
static_assert(offsetof(HostServices, BeginProgress) == 0x24, "slot 9");
static_assert(offsetof(HostServices, StepProgress) == 0x28, "slot 10");
static_assert(offsetof(HostServices, EndProgress) == 0x2C, "slot 11");
#endif
