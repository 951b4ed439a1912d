#pragma once

class CaptureReport;
struct CommandRequest;

// `snaploom capture --all`: every listed port is tried at once, each on a thread of its own with
// a link of its own (a serial port belongs to the thread that made it), and every instrument
// that answers runs its series there. Returns the worst exit code of the instruments, or
// NoInstrument when none answered.
int captureOnAllPorts(const CommandRequest &request, CaptureReport &report);
