// Runs the export core natively on a PNG, handing it the same host image that
// the reference host builds for the plug-in (pvrhost export, host/pvrhost.cpp),
// so that the Wine tests can compare the plug-in's files byte for byte.
//
//   export_reference IMAGE.png TEXTURE --type N --color N [--id N]
//                    [--mode two|grey|indexed|direct] [--left X] [--top Y] [--transparent I]
//
// The settings are given instead of asked for. Prints "status N"; the files are
// written as the export writes them (TEXTURE and, for DataType 5 and 7, the
// .pvp beside it).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "export_core.h"
#include "host_stub.h"
#include "png_io.h"

namespace {

struct Given {
    TextureSettings settings;
};

void NoMessage(void*, const char* text, const char*, unsigned) {
    fprintf(stderr, "export_reference: message %s\n", text);
}

int GivenSettings(void* context, const HostLayer*, const char*, TextureSettings* settings) {
    *settings = static_cast<Given*>(context)->settings;
    return 0;
}

int Usage() {
    fputs("usage: export_reference IMAGE.png TEXTURE --type N --color N [--id N]\n"
          "         [--mode two|grey|indexed|direct] [--left X] [--top Y] [--transparent I]\n",
          stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const char* pngPath = argv[1];
    const char* texture = argv[2];
    long type = -1, color = -1, id = 0, left = 0, top = 0, transparent = -1;
    std::string mode;
    for (int i = 3; i < argc; i++) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (option == "--type") type = strtol(value, nullptr, 0);
        else if (option == "--color") color = strtol(value, nullptr, 0);
        else if (option == "--id") id = strtol(value, nullptr, 0);
        else if (option == "--mode") mode = value;
        else if (option == "--left") left = strtol(value, nullptr, 0);
        else if (option == "--top") top = strtol(value, nullptr, 0);
        else if (option == "--transparent") transparent = strtol(value, nullptr, 0);
        else return Usage();
    }
    if (type < 0 || type > 255 || color < 0 || color > 255 || id < 0 || id > 0xFFFFFFFFL || left < 0 || top < 0 ||
        left > 4096 || top > 4096)
        return Usage();

    HostPng png;
    if (!LoadPng(pngPath, &png)) {
        fprintf(stderr, "export_reference: cannot read %s as PNG\n", pngPath);
        return 2;
    }
    // The host image exactly as pvrhost builds it from the PNG, in the in-memory host.
    StubHost host;
    HostImage& image = host.image;
    image.nTransparentIndex = (int32_t)transparent;
    std::vector<uint32_t> source;
    int sourceWidth = 0, sourceHeight = 0;
    HostLayer placed = host.layer;
    MakeHostImage(png, mode, (int)left, (int)top, &image, &placed, &source, &sourceWidth, &sourceHeight);
    if (SetHostPicture(&host, sourceWidth, sourceHeight, image.nColorMode) != 0) {
        fprintf(stderr, "export_reference: no memory for the picture\n");
        return 2;
    }
    memcpy(host.pixels, source.data(), source.size() * sizeof(uint32_t));
    host.layer = placed;

    Given given = {{(uint8_t)type, (uint8_t)color, (uint32_t)id}};
    ExportPlatform platform;
    InitExportPlatform(&platform, &given, kStdioFiles, kPluginEncoders);
    platform.ShowMessage = NoMessage;
    platform.ChooseSettings = GivenSettings;
    printf("status %d\n", ExportTexture(texture, &image, &host.services, &platform));
    return 0;
}
