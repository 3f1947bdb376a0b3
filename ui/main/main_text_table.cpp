#include "ui/main/main_text_table.h"

#include <array>

#include "common/text.h"

namespace orlin {
namespace {

constexpr MainTextEntry kEntries[] = {
    {L"menu_folder", L"Open Floder", L"打开文件夹"},
    {L"menu_panel", L"Open Panel", L"打开主面板"},
    {L"menu_web", L"Open Web", L"打开官网"},
    {L"menu_upgrade", L"Update", L"在线升级"},
    {L"menu_start", L"Start Sync", L"开始同步"},
    {L"menu_pause", L"Pause Sync", L"暂停同步"},
    {L"menu_setting", L"Setting", L"设置"},
    {L"menu_logoff", L"Log Off", L"注销"},
    {L"menu_exit", L"Exit", L"退出"},
    {L"Sync_Btn", L"Sync", L"同步"},
    {L"Pause_Btn", L"Pause", L"暂停"},
    {L"Refresh_Btn", L"Refresh", L"刷新"},
    {L"Preferences_Btn", L"Preferences", L"配置选项"},
    {L"OpenFolder_Btn", L"Open Folder", L"打开文件夹"},
    {L"Revert_Btn", L"Revert Local Changes", L"恢复本地更改"},
    {L"Override_Btn", L"Override Changes", L"撤销改变"},
    {L"AddFolder_Btn", L"Add Folder", L"添加文件夹"},
    {L"Sync_File_Btn", L"Sync Events", L"同步事件"},
    {L"UnSync_Btn", L"UnSynced Files", L"未同步文件"},
    {L"Conflict_Btn", L"Conflicting Files", L"冲突文件"},
    {L"Error_Btn", L"Failure Files", L"失败文件"},
    {L"Last_Syncfiles_Btn", L"Last Sync Files", L"最后同步文件"},
    {L"This_Device_Btn", L"This Device", L"当前设备"},
    {L"Remote_Devices_Btn", L"Remote Devices", L"远程设备"},
    {L"Log_Btn", L"Log", L"日志"},
    {L"Files_label", L"Files:", L"文件:"},
    {L"Folders_label", L"Folders:", L"文件夹:"},
    {L"Size_label", L"Size:", L"大小:"},
    {L"Upload_label", L"Upload Rate", L"上传速度"},
    {L"Download_label", L"Download Rate", L"下载速度"},
    {L"Sync_Msg_label", L"Sync Message: ", L"同步消息: "},
    {L"Sync_Folder_label", L"Sync Folder: ", L"同步文件夹: "},
    {L"listhead_No", L"No. ", L"序 号 "},
    {L"listhead_Action", L"Action", L"活 动 "},
    {L"listhead_File", L"File", L"文 件"},
    {L"listhead_When", L"When", L"时 间 "},
    {L"listhead_Progress", L"Progress", L"进度"},
    {L"listhead_Size", L"Size", L"大小"},
    {L"listhead_Item", L"Item", L"项"},
    {L"Receive_Only", L"Receive Only", L"仅接收"},
    {L"Send_Only", L"Send Only", L"仅发送"},
    {L"Send_Receive", L"Send & Receive", L"发送和接收"},
    {L"listhead_Describes", L"Describes", L"描述"},
    {L"listhead_Value", L"Value", L"值"},
    {L"listhead_DeviceName", L"Name", L"设备名称"},
    {L"listhead_DeviceStatus", L"Status", L"状态"},
    {L"listhead_IP", L"Address", L"地址"},
    {L"listhead_Download_Rate", L"Download Rate", L"下载速度"},
    {L"listhead_Upload_Rate", L"Upload Rate", L"上传速度"},
    {L"listhead_Version", L"Version", L"版本"},
    {L"TotalFiles_Label", L"Total Files: ", L"文件总数: "},
    {L"Indexing_Event", L"Indexing: ", L"正在索引: "},
    {L"Syncing_Event", L"Syncing... ", L"正在同步..."},
    {L"Suspended_Event", L" Suspended", L"暂停"},
    {L"Unknown_Event", L" Unknown", L" 未知"},
    {L"Error_Event", L"Stopped", L"已停止"},
    {L"Local_Additions_Event", L"Local Additions", L"本地额外的更改"},
    {L"Outofsync_Event", L"Out of sync", L"未同步"},
    {L"Scanning_Event", L"Scanning... ", L"扫描中... "},
    {L"Trans_speed", L"Transmission speed: ", L"传送速度: "},
    {L"remaining", L"remaining", L"剩余"},
    {L"Up to date", L"Up to date", L"已同步"},
    {L"Remote_Disconnected_Event", L"The Server is disconnected", L"服务器连接已经断开"},
    {L"Orlin Prestart", L"Orlin Prestart", L"Orlin 准备启动"},
    {L"Orlin Starting", L"Orlin Starting", L"Orlin 正在启动"},
    {L"Orlin Started", L"Orlin Started", L"Orlin 已经启动"},
    {L"Local deleted", L"Local deleted", L"本地删除"},
    {L"Local deleted dir", L"Local deleted dir", L"本地删除目录"},
    {L"Local deleted file", L"Local deleted file", L"本地删除文件"},
    {L"Local modified", L"Local modified", L"本地变更"},
    {L"Local modified file", L"Local modified file", L"本地变更文件"},
    {L"Local added", L"Local added", L"本地增加"},
    {L"Local added dir", L"Local added dir", L"本地增加目录"},
    {L"Local added file", L"Local added file", L"本地增加文件"},
    {L"Remote added", L"Remote added", L"远程增加"},
    {L"Remote deleted", L"Remote deleted", L"远程删除"},
    {L"Remote modified", L"Remote modified", L"远程变更"},
    {L"Remote modified file", L"Remote modified file", L"远程变更文件"},
    {L"Remote added dir", L"Remote added dir", L"远程增加目录"},
    {L"Remote added file", L"Remote added file", L"远程增加文件"},
    {L"Login_Btn", L"Login", L"登录"},
    {L"Tray_Idle", L"Idle", L"空闲"},
    {L"Tray_Suspended", L"Suspended Synchronization", L"暂停同步"},
    {L"Tray_Sync", L"Syncing", L"同步中"},
    {L"Remote deleted dir", nullptr, L"远程删除目录"},
    {L"Remote deleted file", nullptr, L"远程删除文件"},
};

}  // namespace

std::optional<std::wstring> MainTextTable::Lookup(std::wstring_view id, std::wstring_view language,
                                                  const MainTextCounts& counts) {
  const bool english = language == L"en";
  for (const MainTextEntry& entry : kEntries) {
    if (!EqualsIgnoreCase(id, entry.id)) continue;
    const wchar_t* text = english ? entry.english : entry.chinese;
    if (text == nullptr) return std::nullopt;
    std::wstring answer(text);
    if (EqualsIgnoreCase(id, L"UnSync_Btn")) answer += counts.unsynced;
    if (EqualsIgnoreCase(id, L"Error_Btn")) answer += counts.failed;
    if (EqualsIgnoreCase(id, L"Remote_Devices_Btn")) answer += counts.remoteDevices;
    return answer;
  }
  return std::nullopt;
}

std::size_t MainTextTable::Size() { return std::size(kEntries); }

}  // namespace orlin
