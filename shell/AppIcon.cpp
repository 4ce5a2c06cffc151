#include "shell/AppIcon.h"

static void initIconResource() { Q_INIT_RESOURCE(icons); }

namespace shell {

QIcon applicationIcon()
{
    initIconResource();
    QIcon icon;
    for (int size : {32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/pantrimo-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace shell
