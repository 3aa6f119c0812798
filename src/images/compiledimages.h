#pragma once
// Registers the pictures compiled into the tool (images.qrc); the static library's linker would drop them otherwise.

// Call once before the first use of "://images/..."; later calls do nothing. qMain calls it.
void initCompiledImages();
