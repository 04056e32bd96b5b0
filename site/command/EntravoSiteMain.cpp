// entravo-site: the site operator's command (see --help).
#include "site/command/SiteCommand.h"

#include <unistd.h>

#include <ctime>
#include <iostream>

int main(int argc, char** argv)
{
    CommandContext context{std::cout, std::cerr, [] { return Settings::Read(environ); },
                           static_cast<int64_t>(std::time(nullptr))};
    return RunSiteCommand(std::vector<std::string>(argv + 1, argv + argc), context);
}
