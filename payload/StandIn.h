// What a stand-in program of the placeholder suite shows, shared by the stand-in and its tests: each
// one opens a window whose class and title are the program's name, with its name in a label; the main
// program adds a greeting for the user registered in the suite's configuration file.
#pragma once

namespace zv::standin {

// Child control ids of the stand-in's window.
inline constexpr int kNameLabelId = 100;
inline constexpr int kGreetingLabelId = 101;

// The greeting reads prefix + nickname + suffix; it stays empty while nobody has registered.
inline constexpr char kGreetingPrefix[] = "欢迎你，";
inline constexpr char kGreetingSuffix[] = "！";

// Where the suite's programs find the registered user (a GBK INI file).
inline constexpr char kConfigFile[] = "C:\\zor\\vik\\zvconf.ini";
inline constexpr char kUserSection[] = "yonghuzu";
inline constexpr char kNicknameKey[] = "nicheng";

}  // namespace zv::standin
