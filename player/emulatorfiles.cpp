#include "emulatorfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

bool isPlainName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*\\.(js|wasm)$"));
    return plain.match(name).hasMatch();
}

} // namespace

EmulatorFiles::EmulatorFiles(const QString &dir)
{
    const QDir folder(dir);
    for (const QString &name : folder.entryList(QDir::Files | QDir::Readable))
        if (isPlainName(name))
            m_paths.insert(name.toLatin1(), folder.filePath(name));
}

EmulatorFiles::~EmulatorFiles() = default;

const EmulatorFiles::File *EmulatorFiles::find(const QByteArray &name)
{
    auto it = m_files.constFind(name);
    if (it != m_files.constEnd())
        return &it.value();
    const QString path = m_paths.value(name);
    if (path.isEmpty())
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    const qint64 size = file->size();
    uchar *mapped = size > 0 ? file->map(0, size) : nullptr;
    if (!mapped)
        return nullptr;
    File f;
    f.data = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), size);
    f.contentType = name.endsWith(".wasm") ? "application/wasm" : "text/javascript; charset=utf-8";
    // The emulator names its chunks and WebAssembly by their content hash; only the
    // loader keeps a fixed name, and is validated by a hash of its own.
    static const QRegularExpression hashed(QStringLiteral("[0-9a-f]{16,}"));
    f.immutable = hashed.match(QString::fromLatin1(name)).hasMatch();
    if (!f.immutable)
        f.etag = '"' + QCryptographicHash::hash(f.data, QCryptographicHash::Sha256).toHex().left(32) + '"';
    m_mapped.push_back(std::move(file));
    return &m_files.insert(name, f).value();
}
