// The machine's public documents folder, where programs without a home of
// their own put files meant for every user (the converter's log files):
// $OSTREL_PUBLIC_DIR, else $XDG_DATA_HOME/ostrel, else ~/.local/share/ostrel.
// Never ends with '/' (except for "/"); empty when none of them is known.
#pragma once

#include <string>

namespace orvale::platform {

std::string PublicDocumentsFolder();

}  // namespace orvale::platform
