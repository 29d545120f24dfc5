// What the window shows under the image field: the container's numbers, or why a run would
// reject the file, judged from its header and length alone.
#pragma once

#include <QString>
#include <QVariantMap>

namespace qvota {

// {"ok": true, "size", "containerSize", "crc32", "frames", "wireBytes"} for a container that a
// run would send, or {"ok": false, "error"} with the message that run would end with. Reads at
// most the header, and opens nothing but regular files, so a huge file or a pipe cannot stall
// the caller.
QVariantMap inspect_image(const QString &path);

} // namespace qvota
