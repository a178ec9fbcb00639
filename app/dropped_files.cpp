#include "app/dropped_files.h"

#include "app/footprint.h"
#include "base/outcome.h"
#include "detect/signature.h"
#include "fileops/delete_recognised.h"
#include "fileops/file_target.h"
#include "fileops/replace_result.h"
#include "trace/trace.h"

namespace {

void RemoveDroppedFile(const DroppedFilePlace& place, void* /*context*/) {
    if (place.error != 0) {
        // Looking in the current folder instead could delete another file.
        TRACE(TraceFailure, "Cannot find the folder of file %s, error=%ld\n", place.name,
              static_cast<long>(place.error));
        AddUnchecked();
        return;
    }
    RecognitionResult recognition = RecogniseFile(place.widePath);
    if (recognition.verdict == Recognition::Unchecked) {
        // It may well be the worm: the run says that it could not check everything.
        TraceUnchecked(place.widePath, recognition);
        AddUnchecked();
        return;
    }
    if (recognition.verdict != Recognition::Worm) {
        TRACE(TraceDetail, "file %s is not infected or doesn't exit\n", place.path);
        return;
    }
    // Found counts even when the removal fails.
    SetInfectionState(InfectionFound);
    const ReplaceFileResult result =
        DeleteRecognisedFile(TargetOf(place.widePath), recognition.file, IsOpenFileInfected, 0);
    TRACE(TraceDetail, "Deleting file \"%s\", result=%d\n", place.path, static_cast<int>(result));
    ApplyResultRule(result);
}

}  // namespace

void RemoveDroppedFiles() { ForEachDroppedFile(RemoveDroppedFile, nullptr); }
