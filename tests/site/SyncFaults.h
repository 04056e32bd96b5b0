#pragma once
// The test's hand on the disk faults shim (tests/site/faults, linked into the stores' tests):
// while one of these lives, every sync is noted in a file of its own, and the log's syncs fail
// when told to.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class SyncFaults {
public:
    explicit SyncFaults(const std::string& folder) : m_log(folder + "/syncs.log"), m_faults(folder + "/faults")
    {
        std::ofstream(m_faults).flush();
        setenv("ENTRAVO_SYNC_LOG", m_log.c_str(), 1);
        setenv("ENTRAVO_SYNC_FAULTS", m_faults.c_str(), 1);
    }
    ~SyncFaults()
    {
        unsetenv("ENTRAVO_SYNC_LOG");
        unsetenv("ENTRAVO_SYNC_FAULTS");
    }
    SyncFaults(const SyncFaults&) = delete;
    SyncFaults& operator=(const SyncFaults&) = delete;

    // The next count syncs of a file whose path ends with suffix fail with error (EIO, ENOSPC).
    void Fail(const std::string& error, int count = 1, const std::string& suffix = "-wal")
    {
        std::ofstream(m_faults) << error << ' ' << count << ' ' << suffix << '\n';
    }

    // Every sync so far, "PATH ok" or "PATH ERROR", in order.
    std::vector<std::string> Notes() const
    {
        std::ifstream file(m_log);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
            lines.push_back(line);
        return lines;
    }

    int Count(const std::string& note) const
    {
        int count = 0;
        for (const std::string& line : Notes())
            count += line == note;
        return count;
    }

private:
    std::string m_log;
    std::string m_faults;
};
