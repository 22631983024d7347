#include "settings/fileAccess.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "settings/fileAccessPlatform.h"

namespace fs = std::filesystem;

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.exists != b.exists) return false;
    if (!a.exists) return true;
    // A path query on Windows gives no file id; compare it only where both readings carry one.
    const bool idsKnown = a.fileId != 0 && b.fileId != 0;
    return a.writeTime == b.writeTime && a.size == b.size && (!idsKnown || a.fileId == b.fileId);
}

FileRead readWholeFile(const std::string& path, std::string& content, bool binary) {
    FileRead result;
    content.clear();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), binary ? "rb" : "r");
    if (file == nullptr) {
        result.notFound = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
        return result;
    }
    result.opened = true;
    // Before the first byte: a save that lands during the read then shows as a change later.
    result.identity = identityOfOpenFile(file);
    // Straight into the string, sized from the file: no big buffer on the script fibre's stack.
    const std::int64_t size = result.identity.size;
    content.resize(result.identity.exists && size >= 0 && size < (std::int64_t{1} << 31) ? static_cast<std::size_t>(size) + 1
                                                                                         : 4096);
    std::size_t used = 0;
    for (;;) {
        used += std::fread(content.data() + used, 1, content.size() - used, file);
        if (used < content.size()) break;  // the end, or an error
        content.resize(content.size() * 2);
    }
    content.resize(used);
    result.readError = std::ferror(file) != 0;
    std::fclose(file);
    return result;
}

bool isEmptyFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && fs::file_size(path, error) == 0 && !error;
}

namespace {

// The file a chain of symbolic links ends at; the path itself when it is no link.
fs::path linkTarget(const std::string& path) {
    fs::path target = path;
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(target, error)) || error) break;
        fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

bool writeAll(std::FILE* file, std::string_view content) {
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fflush(file) == 0 && ok;
}

// A temporary beside the file is written and flushed, then put in place by the platform's own
// checked replace; where no temporary can be made, the file is rewritten in place.
ReplaceOutcome replace(const std::string& path, std::string_view content, bool binary, const FileIdentity* expected,
                       FileIdentity* written) {
    const std::string target = linkTarget(path).string();
    const OldFile old = inspectOldFile(target);
    if (expected != nullptr && !sameFile(old.identity, *expected)) return ReplaceOutcome::changedMeanwhile;
    if (!mayReplace(target, old)) return ReplaceOutcome::failed;

    const std::string temporary = target + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), binary ? "wb" : "w");
    if (file == nullptr) return rewriteInPlace(target, content, binary, old, expected, written);
    takePermissions(file, old);
    bool ok = writeAll(file, content);
    ok = stampAndFlush(file, old) && ok;
    const FileIdentity made = identityOfOpenFile(file);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        // A short write (a full disk, say) must not cost the old content.
        std::remove(temporary.c_str());
        return ReplaceOutcome::failed;
    }
    return putInPlace(temporary, target, content, binary, old, expected, made, written);
}

}  // namespace

bool replaceFileContent(const std::string& path, std::string_view content, bool binary) {
    return replace(path, content, binary, nullptr, nullptr) == ReplaceOutcome::written;
}

ReplaceOutcome replaceFileContentIf(const std::string& path, std::string_view content, bool binary,
                                    const FileIdentity& expected, FileIdentity* written) {
    return replace(path, content, binary, &expected, written);
}

bool queryWriteTime(const char* path, std::int64_t& writeTime) noexcept {
    FileIdentity identity;
    if (!queryFileIdentity(path, identity)) return false;
    writeTime = identity.writeTime;
    return true;
}
