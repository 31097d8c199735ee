// The command-line side of the importer: `kivo-server import` (one cycle,
// for cron and tests), `kivo-server status` (each list's state, for the
// operator and monitoring) and the importer that runs beside the server.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

#include "Importer.h"
#include "SnapshotStore.h"
#include "Sources.h"

namespace kivo::server {

// Exit status 0 when every imported list was accepted or unchanged, 1 when
// any was rejected (and 1 with a message for a bad sources.txt or store).
int RunImportCommand(const std::filesystem::path& dataDir, const std::string& db, std::ostream& out, std::ostream& err);

// One line per list; exit status 1 when an imported list has failed for
// more than three of its periods.
int RunStatusCommand(const std::filesystem::path& dataDir, const std::string& db, std::ostream& out, std::ostream& err);

// The importer of a serving kivo-server: started with the data folder's
// sources.txt (throws std::runtime_error naming the bad line), and told by
// the live reload when the folder changed.
class LiveLists {
public:
    LiveLists(const std::filesystem::path& dataDir, const std::string& db);
    // Re-reads sources.txt; a bad line is named on `err` and the last good
    // configuration stays.
    void Reload(std::ostream& err);
    // The state of each list sources.txt imports (for the metrics).
    std::vector<ListState> ImportedStates();

private:
    std::filesystem::path dataDir_;
    std::unique_ptr<SnapshotStore> store_;
    std::unique_ptr<Importer> importer_;
    std::mutex mutex_;
    std::string last_;  // sources.txt as last applied
    Sources sources_;
};

}  // namespace kivo::server
