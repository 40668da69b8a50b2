// Password protection on Linux: data sealed with libsodium's XChaCha20-Poly1305 (IETF)
// under a random 256-bit key that belongs to the OS user.
//
// Blob layout (bytes):
//   [0]       version, 1
//   [1..8]    key identifier: the first 8 bytes of BLAKE2b-128 of the key
//   [9..32]   nonce, 24 random bytes, new for every blob
//   [33..]    ciphertext, then the 16-byte tag
// The version byte and the key identifier are the cipher's additional data, so a change
// to any byte, a blob made under another key or an unknown version is refused.
//
// Key file: <user data folder>/tessarino-keys/protection.key, 32 raw bytes. It lies outside
// the program's profile folders, so a store copied to another account cannot be opened
// there. The folder is made with mode 0700; the file is written to a temporary name
// (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600) and linked into place, so of two processes that
// race to create it one key wins and both use it. A key file is used only when it is a
// regular file (not a symbolic link) owned by the effective user with no group or other
// permission bits, in a folder owned by that user with none either; otherwise the
// operation fails with EACCES. Unprotecting never creates a key.
#include "platform/platform.h"
#include "platform/linux/text.h"

#include <QDir>
#include <QStandardPaths>

#include <sodium.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint8_t blobVersion = 1;
constexpr std::size_t keyIdSize = 8;
constexpr std::size_t nonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t tagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr std::size_t headerSize = 1 + keyIdSize + nonceSize;
constexpr std::size_t keySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
static_assert(keySize == 32);

// The key and its identifier; the key is wiped when it goes.
struct Key
{
    std::array<unsigned char, keySize> bytes{};
    std::array<unsigned char, keyIdSize> id{};

    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key() { sodium_memzero(bytes.data(), bytes.size()); }

    void computeId()
    {
        unsigned char hash[crypto_generichash_BYTES_MIN];
        crypto_generichash(hash, sizeof hash, bytes.data(), bytes.size(), nullptr, 0);
        std::memcpy(id.data(), hash, id.size());
    }
};

// Follows the environment at call time, like every other per-user location.
std::string keyFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    return QDir(data).filePath(QStringLiteral("tessarino-keys")).toLocal8Bit().toStdString();
}

bool isPrivateToUs(const struct stat &info)
{
    return info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// Makes the key folder when `create`, then checks it. 0 or an errno code.
int checkFolder(const std::string &folder, bool create)
{
    if (folder.empty())
        return ENOENT;
    if (create) {
        const std::string parent = folder.substr(0, folder.rfind('/'));
        QDir().mkpath(QString::fromLocal8Bit(parent));
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat info{};
    if (lstat(folder.c_str(), &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode) || !isPrivateToUs(info))
        return EACCES;
    return 0;
}

int readKey(const std::string &path, Key &key)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? EACCES : errno;
    struct stat info{};
    int rc = 0;
    if (fstat(fd, &info) != 0)
        rc = errno;
    else if (!S_ISREG(info.st_mode) || !isPrivateToUs(info))
        rc = EACCES;
    else if (info.st_size != static_cast<off_t>(keySize))
        rc = EINVAL;
    std::size_t done = 0;
    while (rc == 0 && done < keySize) {
        const ssize_t n = read(fd, key.bytes.data() + done, keySize - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            rc = n < 0 ? errno : EINVAL;
        else
            done += static_cast<std::size_t>(n);
    }
    close(fd);
    if (rc == 0)
        key.computeId();
    return rc;
}

// Writes a new random key under a temporary name and links it into place. EEXIST
// means another process got there first; its key is the one to use.
int createKey(const std::string &folder, const std::string &path)
{
    Key key;
    randombytes_buf(key.bytes.data(), key.bytes.size());

    char suffix[17];
    unsigned char random[8];
    randombytes_buf(random, sizeof random);
    sodium_bin2hex(suffix, sizeof suffix, random, sizeof random);
    const std::string temporary = folder + "/.protection.key." + suffix;

    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int rc = 0;
    if (fchmod(fd, 0600) != 0) // the umask may have taken the owner's bits
        rc = errno;
    std::size_t done = 0;
    while (rc == 0 && done < keySize) {
        const ssize_t n = write(fd, key.bytes.data() + done, keySize - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            rc = n < 0 ? errno : EIO;
        else
            done += static_cast<std::size_t>(n);
    }
    if (rc == 0 && fsync(fd) != 0)
        rc = errno;
    if (close(fd) != 0 && rc == 0)
        rc = errno;
    // link() never replaces a key that another process put in place meanwhile.
    if (rc == 0 && link(temporary.c_str(), path.c_str()) != 0)
        rc = errno;
    unlink(temporary.c_str());
    return rc;
}

// The user's key, made on first use when `create`. 0 or an errno code.
int obtainKey(Key &key, bool create)
{
    if (sodium_init() < 0)
        return EIO;
    const std::string folder = keyFolder();
    if (const int rc = checkFolder(folder, create))
        return rc;
    const std::string path = folder + "/protection.key";
    int rc = readKey(path, key);
    if (rc == ENOENT && create) {
        rc = createKey(folder, path);
        if (rc == 0 || rc == EEXIST)
            rc = readKey(path, key);
    }
    return rc;
}

[[maybe_unused]] const char *errorText(int rc, const char *buffer)
{
    return rc == 0 ? buffer : "";
}

[[maybe_unused]] const char *errorText(const char *text, const char *)
{
    return text != nullptr ? text : "";
}

} // namespace

bool protectData(const std::vector<std::uint8_t> &plain, std::vector<std::uint8_t> &blob,
                 std::uint32_t &error)
{
    Key key;
    if (const int rc = obtainKey(key, true)) {
        error = static_cast<std::uint32_t>(rc);
        return false;
    }

    blob.assign(headerSize + plain.size() + tagSize, 0);
    blob[0] = blobVersion;
    std::memcpy(blob.data() + 1, key.id.data(), keyIdSize);
    unsigned char *nonce = blob.data() + 1 + keyIdSize;
    randombytes_buf(nonce, nonceSize);

    unsigned long long sealedSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(blob.data() + headerSize, &sealedSize, plain.data(),
                                               plain.size(), blob.data(), 1 + keyIdSize, nullptr,
                                               nonce, key.bytes.data());
    blob.resize(headerSize + static_cast<std::size_t>(sealedSize));
    error = 0;
    return true;
}

bool unprotectData(const std::vector<std::uint8_t> &blob, std::vector<std::uint8_t> &plain)
{
    plain.clear();
    if (blob.size() < headerSize + tagSize || blob[0] != blobVersion)
        return false;
    Key key;
    if (obtainKey(key, false) != 0)
        return false;
    if (sodium_memcmp(blob.data() + 1, key.id.data(), keyIdSize) != 0)
        return false;

    plain.assign(blob.size() - headerSize - tagSize, 0);
    unsigned long long openedSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(plain.data(), &openedSize, nullptr,
                                                   blob.data() + headerSize, blob.size() - headerSize,
                                                   blob.data(), 1 + keyIdSize,
                                                   blob.data() + 1 + keyIdSize, key.bytes.data())
        != 0) {
        sodium_memzero(plain.data(), plain.size());
        plain.clear();
        return false;
    }
    plain.resize(static_cast<std::size_t>(openedSize));
    return true;
}

std::u16string systemErrorText(std::uint32_t code)
{
    char buffer[256] = {};
    // strerror_r returns the text (GNU) or fills the buffer (POSIX), depending on the C library.
    return fromLocal8Bit(errorText(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer));
}

} // namespace platform
