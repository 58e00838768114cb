// What archive update shares with the rest of the plug-in and its tests.
#pragma once

// Shows the system's text for the calling thread's last error in a message
// box (caption "Error", warning icon); the code as a number when the system
// has no text for it.
void ShowSystemError(void);
