// Prints every place of the worm's footprint as this machine's program sees
// it, one per line, fields separated by tabs:
//   file  <path>
//   shell <file> <section> <key> <usual value>
//   value <root name> <key path> <value name> <view: 0 native only, 64 or 32>
// The end-to-end tests plant a trace in each, so a place added to the
// footprint is tested with no change to them.
#include <windows.h>

#include <cstdio>

#include "app/footprint.h"

namespace {

void PrintFile(const DroppedFilePlace& place, void* /*context*/) {
    if (place.error != 0) {
        printf("unknown\t%s\t%lu\n", place.name, static_cast<unsigned long>(place.error));
    } else {
        printf("file\t%s\n", place.path);
    }
}

void PrintView(REGSAM view, void* context) {
    const auto* value = static_cast<const StartupValue*>(context);
    const int bits = view == KEY_WOW64_32KEY ? 32 : view == KEY_WOW64_64KEY ? 64 : 0;
    printf("value\t%s\t%s\t%s\t%d\n", value->rootName, value->keyPath, value->valueName, bits);
}

}  // namespace

int main() {
    ForEachDroppedFile(PrintFile, nullptr);
    printf("shell\t%s\t%s\t%s\t%s\n", WormShellLine.file, WormShellLine.section, WormShellLine.key,
           WormShellLine.usual);
    for (const StartupValue* value = StartupValueTable; value->keyPath != nullptr; ++value) {
        ForEachRegistryView(value->root, value->keyPath, PrintView, const_cast<StartupValue*>(value));
    }
    return 0;
}
