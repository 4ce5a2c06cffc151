#pragma once
#include <QIcon>

namespace shell {
// The application's own icon, with its images of 32, 48, 128 and 256 pixels.
QIcon applicationIcon();
}
