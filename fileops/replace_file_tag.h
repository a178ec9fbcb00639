// The operation the trace lines of the deletion, the renaming and the
// hand-over to the restart are written under.
#pragma once

#define REPLACE_FILE_TAG "[QRTK - ReplaceFile]: "
