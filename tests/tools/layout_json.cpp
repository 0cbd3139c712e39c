// Prints the layout table as JSON, for the end-to-end tests written in
// Python: they read the codes' meaning from here instead of restating it.
//
//   layout_json OUT.json
#include <stdio.h>

#include "layout.h"

static void PrintDataTypes(FILE* out) {
    static const char* const kOrders[] = {"none", "twiddled", "rectangle", "vq", "smallvq"};
    static const char* const kWriters[] = {"none", "plugin", "converter"};
    fprintf(out, "  \"dataTypes\": [\n");
    for (unsigned code = 0; code < 256; code++) {
        const DataTypeRow& row = DataTypeLayout(code);
        fprintf(out,
                "    {\"order\": \"%s\", \"texelBits\": %u, \"mipBits\": %u, \"pvzUnit\": %u, \"writer\": \"%s\"}%s\n",
                kOrders[row.order], row.texelBits, row.mipBits, row.pvzUnit, kWriters[row.writer],
                code < 255 ? "," : "");
    }
    fprintf(out, "  ],\n");
}

static void PrintColorFormats(FILE* out) {
    fprintf(out, "  \"colorFormats\": [\n");
    for (unsigned code = 0; code < 256; code++) {
        const ColorFormatRow& row = ColorFormatLayout(code);
        fprintf(out, "    {\"texelBits\": %u, \"indexedEntries\": %u, \"decode\": ", row.texelBits, row.indexedEntries);
        const ChannelRow* channels = GetChannelRow(code);
        if (channels) {
            const ChannelDecode& d = channels->decode;
            fprintf(out, "{\"red\": [%u, %u], \"green\": [%u, %u], \"blue\": [%u, %u], \"alpha\": [%u, %u, %g]}",
                    d.redShift, d.redMask, d.greenShift, d.greenMask, d.blueShift, d.blueMask, d.alphaShift,
                    d.alphaMask, (double)d.alphaScale);
        } else {
            fprintf(out, "null");
        }
        fprintf(out, "}%s\n", code < 255 ? "," : "");
    }
    fprintf(out, "  ]\n");
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: layout_json OUT.json\n");
        return 2;
    }
    FILE* out = fopen(argv[1], "w");
    if (!out) {
        perror(argv[1]);
        return 1;
    }
    fprintf(out, "{\n");
    PrintDataTypes(out);
    PrintColorFormats(out);
    fprintf(out, "}\n");
    return fclose(out) == 0 ? 0 : 1;
}
