#pragma once

#include "ComPort.h"

#include <algorithm>
#include <iterator>

// The command-line tool's exit codes, one for each way a command can end.
namespace ExitCode {
constexpr int Success = 0;
constexpr int SerialError = 1;     // the serial port failed in the middle of a command
constexpr int PortNotOpened = 1;   // the port cannot be opened (in use, permission, no such device)
constexpr int Usage = 2;
constexpr int NoInstrument = 3;    // nothing answers, or a model that cannot be captured
constexpr int Refused = 4;         // the instrument refuses to give its screen (DSP status 17)
constexpr int HaltFailed = 5;
constexpr int LoadFailed = 6;
constexpr int FileNotWritten = 7;
constexpr int RestartRefused = 8;  // the image was written, but the instrument's DSP did not restart
constexpr int LineLost = 9;        // the line to the instrument went away (hang-up, adapter removed)
constexpr int Interrupted = 10;    // SIGINT, SIGTERM or SIGHUP: stopped, the instrument left running
constexpr int NotUnderstood = 11;  // something answers on the port, but its replies are not understood

// The code for a serial error that ended a command: the line went away, or the port failed.
inline int forPortError(const EComPort &error)
{
    return dynamic_cast<const ELineLost *>(&error) ? LineLost : SerialError;
}

// The worse of two exit codes, for a command that ends several captures: a picture lost once
// captured is worst, then a line or port error, a failed load, a failed halt, answers not
// understood, no instrument, a refusal, an instrument left halted, an interruption; success is best.
inline int worse(int a, int b)
{
    static const int Order[] = {Success,      Interrupted, RestartRefused, Refused,    NoInstrument, NotUnderstood,
                                HaltFailed,   LoadFailed,  LineLost,       SerialError, FileNotWritten};
    const auto rank = [](int code) { return std::find(std::begin(Order), std::end(Order), code) - std::begin(Order); };
    return rank(a) >= rank(b) ? a : b;
}
}  // namespace ExitCode
