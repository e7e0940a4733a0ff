// Audit records the store could not take, kept aside until a commit takes them.
#pragma once

#include "console_store.h"
#include "mgmt_store.h"

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace tessera::host {

// Audit records the store could not take, in order. Records are only ever
// appended to the file, and only a holder of the store's write lock takes them
// off its front, so no record is written twice by two processes. When the
// file itself cannot take a record (a full disk), the record waits in memory.
class ConsoleStore::PendingAudit {
public:
    explicit PendingAudit(std::filesystem::path file);

    void Keep(const std::vector<AuditRecord>& records);

    struct Taken {
        std::vector<AuditRecord> records;
        std::size_t file_lines = 0;  // of `records`, how many came from the file
    };
    // The kept records, oldest file records first.
    Taken Peek();

    // Forgets what `taken` held, once it is stored.
    void Drop(const Taken& taken);

private:
    static bool WriteAll(int descriptor, const std::string& text, off_t offset);
    bool AppendToFile(const std::string& lines);
    std::vector<std::string> ReadLines() const;
    static std::vector<std::string> ReadLines(int descriptor);

    std::mutex mutex_;
    std::filesystem::path file_;
    std::vector<AuditRecord> in_memory_;
};

}  // namespace tessera::host
