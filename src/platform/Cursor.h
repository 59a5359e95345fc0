// Hiding the mouse pointer over the program's windows until the mouse moves, as an
// on-screen list shown for a remote control wants it: the pointer comes back by itself
// on the first move, or when asked, and nothing else's cursor is ever taken away.
#pragma once

namespace platform {

// Hides the pointer until the mouse moves (does nothing while it is already hidden so).
// Main thread.
void hideCursorUntilMouseMoves();
// Shows the pointer hidden above again at once, when it still is hidden.
void unhideCursorHiddenUntilMouseMoves();
// Whether the pointer is hidden until the mouse moves.
bool isCursorHiddenUntilMouseMoves();

} // namespace platform
