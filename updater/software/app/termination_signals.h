#pragma once

// SIGINT, SIGTERM and SIGHUP end the tool through the same shutdown as the Q
// key, so that the working directory with its copy of dfu-util is removed.
// Does nothing on platforms without POSIX signals.
void installTerminationSignalHandlers();
