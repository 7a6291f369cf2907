// k614ctl: the K614 relay's parameter sets and measurements from the command line.
#include <cstdio>

#include "cli/ctl_args.h"
#include "cli/ctl_dispatch.h"
#include "cli/exit_codes.h"
#include "k614_version.h"

int main(int argc, char **argv)
{
    CtlArgs args;
    switch (parseCtlArgs(argc, argv, &args, stderr)) {
    case ParseOutcome::usageError:
        return EXIT_USAGE;
    case ParseOutcome::help:
        writeUsage(stdout, args.command);
        return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_FILE_ERROR;
    case ParseOutcome::version:
        writeVersion(stdout);
        return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_FILE_ERROR;
    case ParseOutcome::run:
        break;
    }
    const CtlIo io = {stdout, stderr};
    return runCtlCommand(args, *systemCtlOps(), io);
}
