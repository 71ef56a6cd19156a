// The listener's threads carry names ("lumo cube", "lumo capture", ...) that the system shows
// (a debugger, top -H, /proc/PID/task/*/comm), so a person or a benchmark can tell the
// listener's own work from the sound system's threads inside the same process. Each platform
// names them its own way.
#pragma once

// Names the calling thread; at most 15 characters are kept on Linux.
void nameThisThread(const char* name);
