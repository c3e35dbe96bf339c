#include "wacz.h"

#include <QFile>

#include <zip.h>

#include <memory>

namespace warc {

namespace {

struct ZipCloser
{
    void operator()(zip_t *zip) const { zip_discard(zip); }
};
struct EntryCloser
{
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

} // namespace

bool copyRecords(const QString &wacz, const QString &toWarcGz, QList<Page> *pages, QString *error)
{
    const auto fail = [error](const char *why) {
        if (error)
            *error = QString::fromLatin1(why);
        return false;
    };
    // Read as any file given to open is: its index, pages and bounds checked.
    Collection held;
    if (!held.add(wacz, error))
        return false;
    if (pages)
        pages->append(held.pages());
    if (toWarcGz.isEmpty())
        return true;
    int code = 0;
    const std::unique_ptr<zip_t, ZipCloser> zip(zip_open(QFile::encodeName(wacz).constData(), ZIP_RDONLY, &code));
    if (!zip)
        return fail("not a ZIP file");
    QFile to(toWarcGz);
    if (!to.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail("the records cannot be written beside it");
    const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (zip_int64_t i = 0; i < count; ++i) {
        const QByteArray name(zip_get_name(zip.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW));
        if (!name.startsWith("archive/"))
            continue;
        if (!name.endsWith(".warc.gz"))
            return fail("it holds records that are not compressed one by one");
        const std::unique_ptr<zip_file_t, EntryCloser> entry(zip_fopen_index(zip.get(), zip_uint64_t(i), 0));
        if (!entry)
            return fail("a record file in it cannot be read");
        for (;;) {
            const zip_int64_t n = zip_fread(entry.get(), chunk.data(), zip_uint64_t(chunk.size()));
            if (n < 0)
                return fail("a record file in it cannot be read");
            if (n == 0)
                break;
            if (to.write(chunk.constData(), n) != n)
                return fail("the records cannot be written beside it");
        }
    }
    if (!to.flush())
        return fail("the records cannot be written beside it");
    return true;
}

} // namespace warc
