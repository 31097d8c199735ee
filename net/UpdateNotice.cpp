// A text source: its literals are GBK bytes in the program.
#include "net/UpdateNotice.h"

const char kszUpdateNotice[] = "Kivo有新的版本，按确定进行更新！";
const char kszUpdateCaption[] = "更新提示";
