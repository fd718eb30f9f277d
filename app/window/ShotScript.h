// pemmet --screenshots DIR: the window on generated files, pictured empty, listed,
// converting, done and cancelled (PNG files in DIR). Used by scripts/window-shots.sh.
#pragma once

#include <QString>

int RunScreenshots(const QString& AFolder);
