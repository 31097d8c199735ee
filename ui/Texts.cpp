// Built with the GBK execution character set: these literals are GBK bytes in
// the program.
#include "ui/Texts.h"

const char kszAboutMenuItem[] = "关于 kivo(&A)...";
const char kszAppMenuName[] = "Kivo 热门榜";
const char kszAppMenuComment[] = "随时掌握现在流行什么";
const char kszTrayTip[] = "Kivo";
const char kszTemplateFont[] = "宋体";
const char kszEmailPlaceholder[] = "<请输入EMail>";
const char kszInvalidEmail[] = "无效的EMail!";
const char kszSaveNotAllowed[] = "设置没有保存：设置文件夹不允许写入（只读或没有权限）。";
const char kszSaveDiskFull[] = "设置没有保存：磁盘已满。";
const char kszSaveFailed[] = "设置没有保存：设置文件无法写入。";

const char kszHideButton[] = "隐藏";
const char kszSearchButton[] = "搜索";
const char kszSiteButton[] = "更多热门词";
const char kszSearchBoxName[] = "搜索";
const char kszChooserName[] = "选择分类";

const char kszNoServer[] = "暂时无法连接Kivo服务器";
const char kszNoPage[] = "暂时无法显示这个榜单";
const char kszNoPageHelp[] = "请检查网络连接，Kivo每分钟会自动重试。";

const char kszMenuVisitSite[] = "访问网站";
const char kszMenuSettings[] = "软件设置";
const char kszMenuAbout[] = "关于Kivo";
const char kszMenuExit[] = "退出程序";

const char kszCaptionSettings[] = "软件设置";
const char kszCaptionSystemSettings[] = "系统设置";
const char kszCaptionAbout[] = "关于Kivo";
const char kszOk[] = "确定";
const char kszCancel[] = "取消";
const char kszWelcome1[] = "欢迎您使用Kivo桌面小软件，有了它您可以随";
const char kszWelcome2[] = "时掌握现在流行什么，大家都是看什么！";
const char kszWelcome3[] = "有Kivo，我的话题永远不落伍！";
const char kszChooseDefault[] = "请您选择默认的Kivo分类";
const char kszNotifyByEmail[] = "如果Kivo有更新发电子邮件通知我";
const char kszAdvanced[] = "高级...";
const char kszStartAtLoginGroup[] = "开机启动";
const char kszStartAtLogin[] = "开机自动启动Kivo，了解最新流行";
const char kszUpgradeGroup[] = "软件升级";
const char kszCheckUpdate[] = "检查更新";
const char kszAboutVersion[] = "Kivo 1.7 版";
const char kszAboutSite[] = "网站：http://" KIVO_SITE_HOST;
const char kszAboutContact[] = "联系我们：support@kivo.cn";
const char kszAboutCopyright[] = "版权所有 (C) 2008 Kivo";
