#include "app/Config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/StartAtLogin.h"
#include "platform/System.h"

namespace {

// Integers are stored little-endian whatever the machine.
void PutInt(unsigned char* out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

CConfig::SaveFailure Classify(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return CConfig::SaveFailure::kNotAllowed;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
        case EFBIG:
            return CConfig::SaveFailure::kDiskFull;
        default:
            return CConfig::SaveFailure::kOther;
    }
}

std::int32_t GetInt(const unsigned char* in) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(v);
}

// Reads at most four bytes over the little-endian form of the current value,
// so a file that ends inside the field keeps the value's remaining bytes.
void ReadInt(std::FILE* file, std::int32_t& field) {
    unsigned char bytes[4];
    PutInt(bytes, field);
    (void)std::fread(bytes, 1, sizeof bytes, file);
    field = GetInt(bytes);
}

void ReadText(std::FILE* file, char (&field)[CConfig::kTextSize]) { (void)std::fread(field, 1, sizeof field, file); }

// Saves from different threads are written one after the other.
std::mutex g_saveMutex;

}  // namespace

CConfig::CConfig() : CConfig(std::string()) {}

CConfig::CConfig(std::string installDir)
    : m_nCategory(1),
      m_szEmail{},
      m_bAutoRun(1),
      m_bCheckUpdate(1),
      m_bUpdatePending(0),
      m_szReserved1{},
      m_szReserved2{},
      m_szReserved3{},
      m_folders(std::move(installDir)) {}

CConfig::~CConfig() = default;

// The whole path is kept however long it is: a cut path would start nothing.
std::string CConfig::GetExePath() const { return kivo::platform::ExecutablePath(); }

int CConfig::SetAutoRun(int bOn) {
    // An entry that cannot be written leaves only the record's flag changed.
    kivo::platform::WriteStartAtLogin(bOn != 0, GetExePath());
    return 1;
}

void CConfig::AdoptStartAtLogin() {
    const bool bOn = kivo::platform::SetUpStartAtLoginOnFirstStart(m_bAutoRun != 0, GetExePath());
    auto lock = Lock();
    m_bAutoRun = bOn ? 1 : 0;
}

std::string CConfig::GetConfigPath() const {
    return m_folders.DataDir(kivo::platform::UserFolder::Settings) + "Configuration.ini";
}

void CConfig::RemoveSaveLeftover() { kivo::platform::RemoveFile(GetConfigPath() + ".tmp"); }

int CConfig::LoadConfig() {
    std::FILE* file = std::fopen(GetConfigPath().c_str(), "rb");
    if (file == nullptr) return 0;
    auto lock = Lock();
    ReadInt(file, m_nCategory);
    ReadText(file, m_szEmail);
    ReadInt(file, m_bAutoRun);
    ReadInt(file, m_bCheckUpdate);
    ReadInt(file, m_bUpdatePending);
    ReadText(file, m_szReserved1);
    ReadText(file, m_szReserved2);
    ReadText(file, m_szReserved3);
    std::fclose(file);
    return 1;
}

int CConfig::SaveConfig(SaveFailure* pWhy) {
    std::lock_guard<std::mutex> saving(g_saveMutex);
    unsigned char record[kFileSize];
    {
        auto lock = Lock();
        std::size_t at = 0;
        const auto putInt = [&](std::int32_t value) {
            PutInt(record + at, value);
            at += 4;
        };
        const auto putText = [&](const char(&text)[kTextSize]) {
            std::memcpy(record + at, text, kTextSize);
            at += kTextSize;
        };
        putInt(m_nCategory);
        putText(m_szEmail);
        putInt(m_bAutoRun);
        putInt(m_bCheckUpdate);
        putInt(m_bUpdatePending);
        putText(m_szReserved1);
        putText(m_szReserved2);
        putText(m_szReserved3);
    }
    // The record goes to a sibling file first, which then replaces the old
    // one: the settings file is always either the old record or the new one.
    const std::string path = GetConfigPath();
    const std::string temp = path + ".tmp";
    // The first step that fails says why, through errno.
    int error = 0;
    const auto failed = [&error] {
        if (error == 0) error = errno != 0 ? errno : EIO;
        return false;
    };
    errno = 0;
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) failed();
    bool ok = file != nullptr;
    if (ok) {
        ok = std::fwrite(record, 1, sizeof record, file) == sizeof record || failed();
        ok = (kivo::platform::SyncFile(file) || failed()) && ok;
        ok = (std::fclose(file) == 0 || failed()) && ok;
        errno = 0;  // the system's own move need not say why
        ok = ok && (kivo::platform::RenameOver(temp, path) || failed());
        if (!ok) kivo::platform::RemoveFile(temp);
    }
    if (pWhy != nullptr) *pWhy = ok ? SaveFailure::kNone : Classify(error);
    return ok ? 1 : 0;
}
