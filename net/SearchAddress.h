#pragma once
// The web search the program hands words to, from its search box and from
// the entries of the lists' pages: this prefix, then the words as GBK bytes,
// unescaped. Shared by the program and the content server.

inline constexpr char kszSearchPrefix[] = "http://www.baidu.com/s?tn=kivo_pg&ct=&lm=-1&kw=&word=";
