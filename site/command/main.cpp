// entravo-site: the site operator's command (see --help).
#include "site/command/SiteCommand.h"

#include <cstdlib>
#include <ctime>
#include <iostream>

int main(int argc, char** argv)
{
    const char* database = std::getenv("ENTRAVO_SITE_DB");
    CommandContext context{std::cout, std::cerr, database ? database : "", static_cast<int64_t>(std::time(nullptr))};
    return RunSiteCommand(std::vector<std::string>(argv + 1, argv + argc), context);
}
