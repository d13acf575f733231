#pragma once
// Helpers of the composer tests: temporary files, a message assembled the
// way the DATA transfer assembles it (header block, header-line rewrite,
// body lines pulled one by one) and the standard MIME parser's view of it.

#include "mime/HeaderBlock.h"
#include "smtp/ComposerTypes.h"

#include <functional>
#include <string>
#include <vector>

namespace composertest {

// A directory that is removed with everything in it.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Writes a file into the directory and returns its full path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path);

// Bytes 0 ... 255 over and over, with a twist so that blocks differ.
std::string BinaryBytes(std::size_t n, unsigned seed);

smtp::TComposerSettings SettingsOf(const mime::THeaderFields& fields);

// The message as it goes out: every line followed by CR LF.
struct TMessage {
    std::string Text;
    std::size_t HeaderLineCount = 0;  // physical lines up to the empty one
    // Physical lines (split at CR LF).
    std::vector<std::string> Lines() const;
    std::vector<std::string> BodyLines() const;
};

using TBodySource = std::function<void(int lineNum, std::string& line, bool& more)>;

TMessage Assemble(mime::THeaderFields& fields, const mime::THeaderHook& processHeader,
                  const std::function<void(std::string&)>& headerLine, const TBodySource& body);

// The part tree the standard parser sees ("path|type|defects=..|..."); the
// decoded contents go to <dir>/<path>.bin.
std::vector<std::string> MimeTree(const TMessage& message, const TTempDir& dir);

// The value after "key=" in a tree line, or "" when absent.
std::string TreeField(const std::string& treeLine, const std::string& key);

} // namespace composertest
