// The converter's window icon, drawn at run time so that the program needs
// no image files.
#pragma once

#include <QIcon>

namespace orvale::converter {

QIcon AppIcon();

}  // namespace orvale::converter
