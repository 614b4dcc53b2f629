// Pictures of the dialogs, drawn in code: the start dialog's banner (bitmap
// 133) and the sound icon (icon 118). Both are complete .bmp files.
#pragma once

#include <vector>

namespace resources {

// 256 x 64, 24 bits: a dusk gradient with the title.
const std::vector<unsigned char>& startDialogBitmap();

// 32 x 32, 32 bits with alpha: a loudspeaker.
const std::vector<unsigned char>& soundIcon();

} // namespace resources
