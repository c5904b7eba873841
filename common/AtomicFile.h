// Replacing a file as a whole: the new content is written beside the target
// and renamed over it, so a failure at any point leaves the old file as it
// was and never a half-written one.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace vinsk {

// A file that could not be written. Its message names the file in the words
// of the command that failed ("Unable to write to …", "Cannot create file …").
// Error is the system's error number where one is known (0 otherwise), for
// callers that add the reason.
class EFileWriteError : public std::runtime_error {
public:
    explicit EFileWriteError(const std::string& message, int error = 0) : std::runtime_error(message), Error(error) {}
    int Error;

    // The message with the system's reason when one is known: "Cannot
    // create file x.csv: No space left on device".
    std::string WithCause() const;
};

class TAtomicSave {
public:
    explicit TAtomicSave(const std::string& path) : Path(path) {}
    TAtomicSave(const TAtomicSave&) = delete;
    TAtomicSave& operator=(const TAtomicSave&) = delete;
    ~TAtomicSave();

    // Checks that the target can be replaced (not a folder, not read-only)
    // and reads its current content into `content` when given (empty for a
    // new file).
    bool Open(std::string* content);

    // Writes the complete new content and puts it in place.
    bool Commit(std::string_view content);

    // Commit in two steps: the content written beside the target, then put
    // in place.
    bool Write(std::string_view content);
    bool Place();

private:
    std::string Path;
    std::string Target;
    std::string TempPath;
    std::optional<struct stat> Existing;
};

// Several files replaced together: each is written beside its target as it
// is added, and only when all are written are they put in place, so a run
// whose one output fails replaces none. Both throw EFileWriteError("Cannot
// create file " + path) with the system's error; files not put in place
// leave nothing behind.
class TAtomicSaveSet {
public:
    void Add(const std::string& path, std::string_view content);
    void Commit();

private:
    std::vector<std::pair<std::string, std::unique_ptr<TAtomicSave>>> Saves;
};

// Open and Commit in one, for the exports (CSV text, chart pictures): throws
// EFileWriteError("Cannot create file " + path) when the file could not be
// written.
void SaveWholeFile(const std::string& path, std::string_view content);

} // namespace vinsk
