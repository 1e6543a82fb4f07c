#include "platform/settings_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/debug_print.h"

namespace {

constexpr char kRootKey[] = "Software";
constexpr char kHeader[] = "# vorn_kvusb settings, written when the program ends\n";
constexpr char kProgramFolder[] = "vorn_kvusb";
constexpr char kFileName[] = "settings";

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r";
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool ParseValue(std::string_view text, uint32_t* value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, *value);
    return error == std::errc() && stop == end && !text.empty();
}

// Writes all of `text` to a new file beside `path` and puts it in place with one rename, so
// that a crash leaves the old file or the new one, never half of one.
bool WriteAtomically(const std::string& path, const std::string& text, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::string temporary = path + ".new";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = temporary + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        ssize_t result = write(fd, text.data() + written, text.size() - written);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            break;
        }
        written += static_cast<size_t>(result);
    }
    bool ok = written == text.size() && fsync(fd) == 0;
    int savedErrno = errno;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    *error = path + ": " + std::strerror(ok ? errno : savedErrno);
    unlink(temporary.c_str());
    return false;
}

// Calls take(section, name, value) for each line "name=value" under a "[section]", and
// take(section, "", "") for the "[section]" line itself.
template <typename Take>
void ForEachSettingLine(std::string_view text, Take take) {
    std::string section;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']' && line.size() > 2) {
            section = line.substr(1, line.size() - 2);
            take(section, std::string(), std::string_view());
            continue;
        }
        size_t equals = line.find('=');
        if (!section.empty() && equals != std::string_view::npos && equals != 0) {
            take(section, std::string(Trimmed(line.substr(0, equals))),
                 Trimmed(line.substr(equals + 1)));
        }
    }
}

bool IsQuoted(std::string_view value) {
    return value.size() >= 2 && value.front() == '"' && value.back() == '"';
}

bool FitsOnALine(std::string_view text) {
    for (char c : text) {
        if (c == '"' || static_cast<unsigned char>(c) < ' ') {
            return false;
        }
    }
    return true;
}

}  // namespace

MemorySettingsStore::Contents ParseSettingsText(std::string_view text) {
    MemorySettingsStore::Contents contents;
    ForEachSettingLine(text, [&contents](const std::string& section, const std::string& name,
                                         std::string_view value) {
        uint32_t number = 0;
        if (name.empty()) {
            contents[section];  // the key exists, whatever its values
        } else if (ParseValue(value, &number)) {
            contents[section][name] = number;
        }
    });
    return contents;
}

MemorySettingsStore::TextContents ParseSettingsTexts(std::string_view text) {
    MemorySettingsStore::TextContents texts;
    ForEachSettingLine(text, [&texts](const std::string& section, const std::string& name,
                                      std::string_view value) {
        if (!name.empty() && IsQuoted(value) && FitsOnALine(value.substr(1, value.size() - 2))) {
            texts[section][name] = value.substr(1, value.size() - 2);
        }
    });
    return texts;
}

std::string FormatSettingsText(const MemorySettingsStore::Contents& contents,
                               const MemorySettingsStore::TextContents& texts) {
    std::set<std::string> paths;
    for (const auto& [path, values] : contents) {
        if (path != kRootKey || !values.empty()) {  // every store has it
            paths.insert(path);
        }
    }
    for (const auto& [path, values] : texts) {
        paths.insert(path);
    }
    std::string text = kHeader;
    for (const std::string& path : paths) {
        text += "[" + path + "]\n";
        if (auto values = contents.find(path); values != contents.end()) {
            for (const auto& [name, value] : values->second) {
                text += name + "=" + std::to_string(value) + "\n";
            }
        }
        if (auto values = texts.find(path); values != texts.end()) {
            for (const auto& [name, value] : values->second) {
                text += name + "=\"" + value + "\"\n";
            }
        }
    }
    return text;
}

std::string DefaultSettingsFilePath() {
    std::filesystem::path folder;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else if (home != nullptr && home[0] != '\0') {
        folder = std::filesystem::path(home) / ".config";
    } else {
        return "";
    }
    return (folder / kProgramFolder / kFileName).string();
}

bool FileSettingsStore::Load() {
    std::ifstream file(m_path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    m_memory.Restore(ParseSettingsText(text));
    m_memory.RestoreTexts(ParseSettingsTexts(text));
    return true;
}

bool FileSettingsStore::OpenUserKey(const char* path, KeyAccess access, SettingsKey* key) {
    return m_memory.OpenUserKey(path, access, key);
}

bool FileSettingsStore::CreateSubKey(SettingsKey parent, const char* name, SettingsKey* key) {
    bool created = m_memory.CreateSubKey(parent, name, key);
    std::lock_guard<std::mutex> hold(m_saveLock);
    m_changed = m_changed || created;
    return created;
}

bool FileSettingsStore::ReadDword(SettingsKey key, const char* name, uint32_t* value) {
    return m_memory.ReadDword(key, name, value);
}

bool FileSettingsStore::WriteDword(SettingsKey key, const char* name, uint32_t value) {
    std::lock_guard<std::mutex> hold(m_saveLock);
    if (!m_memory.WriteDword(key, name, value)) {
        return false;
    }
    m_changed = true;
    return true;
}

bool FileSettingsStore::DeleteValue(SettingsKey key, const char* name) {
    std::lock_guard<std::mutex> hold(m_saveLock);
    if (!m_memory.DeleteValue(key, name)) {
        return false;
    }
    m_changed = true;
    return true;
}

bool FileSettingsStore::WriteText(const std::string& path, const std::string& name,
                                  const std::string& text) {
    if (!FitsOnALine(text)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(m_saveLock);
        m_memory.SetText(path, name, text);
        m_changed = true;
    }
    Save();
    return true;
}

void FileSettingsStore::CloseKey(SettingsKey key) {
    m_memory.CloseKey(key);
    Save();
}

void FileSettingsStore::Save() {
    std::lock_guard<std::mutex> hold(m_saveLock);
    if (!m_changed) {
        return;
    }
    std::string error;
    if (m_path.empty() ||
        !WriteAtomically(m_path, FormatSettingsText(m_memory.Snapshot(), m_memory.TextSnapshot()),
                         &error)) {
        DebugPrint("FileSettingsStore: cannot save the settings: %s\n",
                   m_path.empty() ? "no file (set HOME or XDG_CONFIG_HOME)" : error.c_str());
        return;
    }
    m_changed = false;
}

FileSettingsStore* UseSettingsFile(const std::string& path) {
    auto* store = new FileSettingsStore(path);
    store->Load();
    g_pSettingsStore = store;
    return store;
}
