// Entry of quillpost-send, the headless sender.
#include "SendCommand.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    TSendOptions options;
    try {
        options = ParseSendOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& error) {
        std::cerr << "quillpost-send: " << error.Message << "\n"
                  << "Try 'quillpost-send --help'.\n";
        return seUsage;
    }
    if (options.Help) {
        std::cout << SendUsage;
        return seSent;
    }
    if (options.Version) {
        std::cout << "quillpost-send " QUILLPOST_VERSION "\n";
        return seSent;
    }
    return RunSendCommand(options, QCoreApplication::applicationFilePath().toStdString(), std::cin, std::cerr);
}
