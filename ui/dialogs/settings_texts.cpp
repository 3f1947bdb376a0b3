#include "ui/dialogs/settings_texts.h"

namespace orlin {

const dui::TextTable& SettingsTextTable() {
  // Spelling and spacing are the product's own ("Adress", the doubled blanks
  // in "托  盘" and "Selected  Folder(&C)").
  static const dui::TextTable table({
      {L"Setting_title", L"Setting - Orlin", L"设置 - Orlin"},
      {L"General_Option", L"General", L"通用设置"},
      {L"Orlin_Option", L"Orlin Config", L"Orlin配置"},
      {L"Syncset_Option", L"Sync", L"同步设置"},
      {L"Advance_Option", L"Advance", L"高级设置"},
      {L"About_Option", L"About", L"关于"},
      {L"System_GroupBox", L"System", L"系统"},
      {L"AutoStart_Option", L"Run Orlin When the System Starts up", L"系统运行时启动Orlin"},
      {L"ComputerShow_Option", L"Display Orlin In My Computer", L"在我的电脑中显示Orlin"},
      {L"FloatWnd_Option", L"Display Float Windows On the Desktop", L"桌面上显示悬浮窗"},
      {L"Lang_GroupBox", L"Language", L"语言"},
      {L"MinSet_GroupBox", L"Minimum Setting", L"最小化设置"},
      {L"DPI_GroupBox", L"DPI", L"DPI"},
      {L"Task_Radio", L"Taskbar", L"任务栏"},
      {L"Tray_Radio", L"Tray", L"托  盘"},
      {L"Folder_GroupBox", L"Select Folder", L"选择文件夹"},
      {L"SelectFolder_Label", L"The files you choose will be automatically backed up", L"你选择的文件夹将自动备份"},
      {L"Folder_Btn", L"Selected  Folder(&C)", L"选择文件夹(&C)"},
      {L"Location_Label", L"Synchronize folder location selection", L"同步文件夹位置选择"},
      {L"sync_folder_btn", L"Browse", L"浏览"},
      {L"Set_Default_Option", L"This path is set to the default location", L"此路径设为默认位置"},
      {L"Bandwidth_Label", L"Bandwidth", L"带宽控制"},
      {L"Downloadinglimit_Label1", L"Downloading limit", L"下载限速为"},
      {L"Downloadinglimit_Label2", L"KiB/s, 0 - Unlimited", L"KiB/s, 0 - 无限速"},
      {L"Uploadlimit_Label1", L"Upload limit", L"上传限速为"},
      {L"Uploadlimit_Label2", L"KiB/s, 0-Unlimited", L"KiB/s, 0 - 无限速"},
      {L"FileVersioning_Label", L"File Versioning", L"文件历史版本数"},
      {L"FileType_GroupBox", L"File Type", L"文件类型"},
      {L"FilePullOrder", L"File Pull Order", L"文件拉取顺序"},
      {L"random", L"Random", L"随机顺序"},
      {L"alphabetic", L"Alphabetic", L"字母顺序"},
      {L"smallestFirst", L"Smallest First", L"小文件优先"},
      {L"largestFirst", L"Largest First", L"大文件优先"},
      {L"oldestFirst", L"Oldest First ", L"旧文件优先"},
      {L"newestFirst", L"Newest First", L"新文件优先"},
      {L"FileType_Send_Receive", L"Send and Receive", L"发送与接收"},
      {L"FileType_SendOnly", L"Send Only", L"仅发送"},
      {L"FileType_ReceiveOnly", L"Receive Only", L"仅接收"},
      {L"KeepVersions_Label", L"Keep Versions", L"历史版本数"},
      {L"Selective_Sync_Label", L"Selective Synchronization", L"选择性同步"},
      {L"Manage_Sync_Label", L"Manage files/folders that need to be synchronized", L"管理需同步文件/文件夹"},
      {L"treedir_btn", L"Manage", L"管理"},
      {L"device_id", L"Device ID:", L"设备ID:"},
      {L"version_txt", L"System Version:", L"系统版本:"},
      {L"Sync_GroupBox", L"Sync Setting", L"同步设置"},
      {L"FileAutoSync_Option", L"Automatic file synchronization", L"文件自动同步"},
      {L"NOSleep_Option", L"The computer automatically does not sleep when there are synchronous tasks",
       L"有同步任务时电脑自动不休眠"},
      {L"Proxy_GroupBox", L"Proxy Setting", L"代理设置"},
      {L"Type_Label", L"Type", L"类型"},
      {L"No_Proxy_Dropdown", L"No Proxy", L"不使用代理"},
      {L"Auto_Proxy_Dropdown", L"Automatic inspection Proxy", L"自动检查代理"},
      {L"UsingSystem_Proxy_Dropdown", L"Using System  Proxy", L"使用系统代理"},
      {L"Manual_Proxy_Dropdown", L"Manual Setting Proxy", L"手动设置代理"},
      {L"Adress_Label", L"Adress", L"地址"},
      {L"Port_Label", L"Port", L"端口"},
      {L"Download_GroupBox", L"Download location", L"下载位置"},
      {L"Download_Folder_Btn", L"Browse", L"浏览"},
      {L"Default_Download_Option", L"By default, this path bit download path", L"默认此路径位下载路径"},
      {L"Copyright_label", L"Copyright \u00A9 Tarn Systems. All rights reserved.",
       L"版权所有 \u00A9 Tarn Systems，保留所有权利。"},
      {L"OK_Btn", L"OK", L"确定"},
      {L"Cancel_Btn", L"Cancel", L"取消"},
      {L"Apply_Btn", L"Apply", L"应用"},
  });
  return table;
}

const dui::TextTable& IgnoringTextTable() {
  static const dui::TextTable table({
      {L"Setting_title", L"Setting", L"设 置"},
      {L"From_Label", L"From:", L"从:"},
      {L"To_Label", L"To:", L"到:"},
      {L"Current_Label", L"The current item:", L"当前项:"},
      {L"All_Label", L"The all item:", L"所有项:"},
      {L"Wnd_Title", L"Selective Synchronization - Orlin", L"选择性同步 - Orlin"},
      {L"Ignoring_Text", L"Please select files that are not synchronized:", L"请选择不需要同步的文件:"},
      {L"OK_Btn", L"OK", L"确定"},
      {L"Cancel_Btn", L"Cancel", L"取消"},
      {L"Apply_Btn", L"Apply", L"应用"},
  });
  return table;
}

const dui::TextTable& CopyTextTable() {
  static const dui::TextTable table({
      {L"Setting_title", L"Setting", L"设 置"},
      {L"From_Label", L"From:", L"从:"},
      {L"To_Label", L"To:", L"到:"},
      {L"Current_Label", L"The current item:", L"当前项:"},
      {L"All_Label", L"The all item:", L"所有项:"},
      {L"Wnd_Title", L"Copying - Orlin", L"正在复制 - Orlin"},
      {L"OK_Btn", L"OK", L"确定"},
      {L"Cancel_Btn", L"Cancel", L"取消"},
      {L"Apply_Btn", L"Apply", L"应用"},
  });
  return table;
}

std::wstring SettingsWindowTitle(std::wstring_view language) {
  // The window's title as the desktop lists it, spelt as the product has
  // always spelt it; the caption inside the window reads "Setting - Orlin".
  return language == L"zh_cn" ? L"设置 - Orlin" : L"Settting - Orlin";
}

std::wstring IgnoringWindowTitle(std::wstring_view language) {
  return language == L"zh_cn" ? L"选择性同步 - Orlin" : L"Selective Synchronization - Orlin";
}

std::wstring CopyWindowTitle(std::wstring_view language) {
  return language == L"zh_cn" ? L"复制 - Orlin" : L"Copying - Orlin";
}

std::wstring SyncFolderPickerTitle(std::wstring_view language) {
  return language == L"zh_cn" ? L"Orlin 选择同步目录" : L"Orlin Select sync directory";
}

}  // namespace orlin
