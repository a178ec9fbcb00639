// Removal of the worm's dropped files from the system folder.
#pragma once

void RemoveDroppedFiles();
