// snaploom's command line from the input: whatever the arguments, the parser answers with one
// decision: a command to run, a text to show, or a refusal in one line.
//
// Input: the arguments after the program name, each ended by a zero byte, as the system hands
// them over (bytes in the local encoding).

#include "CommandLine.h"

#include <QFile>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList arguments;
    for (const QByteArray &argument : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0'))
        arguments << QFile::decodeName(argument);
    if (!arguments.isEmpty() && size > 0 && data[size - 1] == 0)
        arguments.removeLast();  // the last argument's own end

    const CommandRequest request = parseCommandLine(arguments);
    switch (request.action) {
    case CommandRequest::Action::Run:
        if (!commandNames().contains(request.command))
            std::abort();
        break;
    case CommandRequest::Action::ShowText:
        if (request.text.isEmpty())
            std::abort();
        break;
    case CommandRequest::Action::Refuse:
        // One line, unless it quotes an argument that holds a line break itself.
        if (request.text.isEmpty()
            || (request.text.contains(QLatin1Char('\n')) && !arguments.join(QString()).contains(QLatin1Char('\n'))))
            std::abort();
        break;
    }
    return 0;
}
