// krpalvelin-cli: the command-line client of the server's remote methods. See --help.
#include "client/cli/Cli.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return krp::cli::runCli(args, krp::cli::processEnvironment(), std::cin, std::cout, std::cerr);
}
