#pragma once

#include "player_export.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>
#include <vector>

class QFile;

// The emulator's files as the player host serves them: the folder is listed once, each
// file is mapped into memory on first use and kept, and nothing is ever looked up or
// kept under a name a client made up.
class PLAYER_EXPORT EmulatorFiles
{
public:
    explicit EmulatorFiles(const QString &dir);
    ~EmulatorFiles();

    struct File
    {
        QByteArray data; // a view of the mapped file
        QByteArray contentType;
        QByteArray etag;
        bool immutable = false; // its name carries its content hash
    };
    // One of the folder's own scripts or WebAssembly files; nullptr for any other name.
    const File *find(const QByteArray &name);
    bool isEmpty() const { return m_paths.isEmpty(); }

private:
    QHash<QByteArray, QString> m_paths;
    QHash<QByteArray, File> m_files;
    std::vector<std::unique_ptr<QFile>> m_mapped;
};
