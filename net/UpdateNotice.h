#pragma once
// The update notice's text and caption, as GBK bytes.

extern const char kszUpdateNotice[];
extern const char kszUpdateCaption[];
