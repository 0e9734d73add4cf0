// A host's row read: the camera that holds a port, and one row of its last
// frame copied into the host's memory.
#pragma once

// Copies (last - first + 1) x the frame's bytes per pixel bytes, from the
// first byte of `row` of the last frame of the camera on `port`, into `dest`.
// False when the buffer refuses (it has logged why); throws the registry's
// error, as its look-up does, for a port that no camera holds.
//
// A camera's link thread reading rows inside the host's callbacks (the
// common case: rows read in the complete callback) pays the registry's
// look-up once per change of the ports, and neither the registry's pin nor
// the buffer's lock: the camera outlives its link thread, and that thread is
// the buffer's one writer. Other threads pin the registry and lock the
// buffer for each row, and find the camera again only when a port changed.
bool ReadCameraRow(int port, void* dest, int row, int first, int last);

// Tells the row reads that a camera's port or open state, or the registry
// itself, changed; called after the change.
void PortRoutesChanged();
