#include "ui/dialogs/message_table.h"

#include "app/store/state_files.h"
#include "common/text.h"

namespace orlin {
namespace {

// Every character counts: blanks (leading, doubled, trailing), tabs and line
// feeds are shown as they stand.
constexpr MessageEntry kEntries[] = {
    {L"Login_Failed_msg", L"Login Failed!", L"登录失败 "},
    {L"Cloud_Running_Msg", L"A copy of Orlin is running...", L"Orlin 已经在运行了 "},
    {L"Cloud_LogOff_Msg", L"Are you sure you want to unlink the account?", L"您确定要注销吗？"},
    {L"Sync_NoRunning_Msg", L"Orlin Synchronous Service not running , Please reinstall the Orlin", L"不能运行 Orlin 同步服务  \n 请重新安装Orlin "},
    {L"Cannot_Find_API_KEY_Msg", L"Cannot find the API Key. Orlin Synchronous Service not started! Please reinstall the Orlin", L"不能找到密钥   Orlin 同步服务没有启动  请重新安装Orlin"},
    {L"UpdateApp_Error_Msg", L"UpdateApp Error", L"升级程序发生错误"},
    {L"SyncFolder_Error_Msg", L"The contents of the synchronization folder cannot be copied", L"不能复制同步文件夹里的内容"},
    {L"versioning_Success_msg", L"Server file version set up successfully", L"服务器文件历史版本设置成功"},
    {L"versioning_Failed_msg", L"\tServer file version setup failed", L"服务器文件历史版本设置失败"},
    {L"Connect_Server_Failed_msg", L"Connecting server failed", L"连接服务器失败"},
    {L"path_Failed_msg", L"The selected path is already occupied by another user \n Please select another path", L"所选路径已经被其它用户占用 \n 请选择其它路径"},
    {L"UserConfig_Failed_Msg", L"The userconfig.xml does not exist \n Please reinstall Orlin", L"userconfig.xml 不存在\n 请重新安装Orlin"},
    {L"Lang_Failed_Msg", L"The  lang.xml  does not exist\n Please reinstall Orlin", L"lang.xml 不存在\n 请重新安装Orlin"},
    {L"Setting_Failed_Msg", L"The  setting.xml does not exist\n Please reinstall Orlin", L"setting.xml 不存在\n 请重新安装Orlin"},
    {L"SyncConfig_Failed_Msg", L"The config.xml does not exist", L"config.xml 不存在 "},
    {L"Invalid_directory_Msg", L"Invalid directory", L"无效的目录"},
    {L"Path_Used_Msg", L"This path is already in use Please use another path", L"该路径已经被使用 请使用其他路径"},
    {L"SyncPath_Invalid_Msg", L"Synchronization path Invalid", L"同步路径无效"},
    {L"Btn_State_Ignore", L"Please close the managed synchronization window first", L"请先关闭管理同步窗口"},
    {L"Btn_State_SyncDir", L"Please close the select sync directory window first", L"请先关闭选择同步目录窗口"},
    {L"Btn_State_ChildWnd", L"Please close the Settings window and and its children first", L"请先关闭设置窗口及其子窗口"},
    {L"Btn_State_SettingWnd", L"Please close the Settings window first", L"请先关闭设置窗口"},
    // The causes behind a file or folder Orlin cannot use, named as they are
    // instead of "does not exist, reinstall".
    {L"SyncConfig_Damaged_Msg",
     L"The config.xml of the sync service is damaged (cut short or not readable as XML) and was left as it is.\n Log off to set up the sync service anew; the files in your sync folder are kept",
     L"同步服务的 config.xml 已损坏（不完整或无法作为 XML 读取），Orlin 未修改它。\n 请注销以重新设置同步服务；同步文件夹中的文件会保留"},
    {L"UserConfig_Damaged_Msg",
     L"The userconfig.xml is damaged (cut short or not readable as XML) and was left as it is.\n Please repair the file or reinstall Orlin",
     L"userconfig.xml 已损坏（不完整或无法作为 XML 读取），Orlin 未修改它。\n 请修复该文件或重新安装Orlin"},
    {L"Install_ReadOnly_Msg",
     L"Orlin cannot write in its installation folder.\n Please allow your user account to write there, or reinstall Orlin in a folder you can write to",
     L"Orlin 无法写入其安装文件夹。\n 请允许您的用户帐户写入该文件夹，或将 Orlin 重新安装到您可以写入的文件夹"},
    {L"ServerCert_Changed_Msg",
     L"The Tarn server shows a different security certificate than when you logged in, so nothing was sent to it.\n If the server was not given a new certificate, someone may be intercepting the connection. Otherwise log off and log in again",
     L"Tarn 服务器出示的安全证书与您登录时不同，因此未向其发送任何内容。\n 如果服务器没有更换证书，可能有人正在截取连接；否则请注销后重新登录"},
    // The updater (AutoUpdater). Every failure says that nothing changed,
    // so the user knows the installed Orlin is as it was.
    {L"Update_Checking_Msg", L"Asking the Tarn server for the newest version...", L"正在向 Tarn 服务器查询最新版本..."},
    {L"Update_UpToDate_Msg", L"Orlin is up to date.", L"Orlin 已是最新版本。"},
    {L"Update_Available_Msg", L"A newer version of Orlin is available. Click Update to download and install it; Orlin will be closed and started again.",
     L"有新版本的 Orlin 可用。点击“升级”下载并安装；Orlin 将关闭并重新启动。"},
    {L"Update_Downloading_Msg", L"Downloading the update...", L"正在下载升级包..."},
    {L"Update_Downloaded_Msg", L"The update was downloaded and checked.", L"升级包已下载并通过校验。"},
    {L"Update_Installing_Msg", L"Closing Orlin and installing the update...", L"正在关闭 Orlin 并安装升级..."},
    {L"Update_Done_Msg", L"The update is installed and Orlin has been started again.", L"升级已安装，Orlin 已重新启动。"},
    {L"Update_DoneNotStarted_Msg", L"The update is installed, but Orlin could not be started again. Please start it yourself.",
     L"升级已安装，但无法重新启动 Orlin。请手动启动。"},
    {L"Update_NotSignedIn_Msg",
     L"Orlin takes updates only from the Tarn server it is signed in to, whose certificate it knows from the login.\n Please log in first. Nothing was changed.",
     L"Orlin 只从已登录的 Tarn 服务器（登录时已记住其证书）获取升级。\n 请先登录。未做任何更改。"},
    {L"Update_Unreachable_Msg", L"The Tarn server cannot be reached. Nothing was changed.",
     L"无法连接 Tarn 服务器。未做任何更改。"},
    {L"Update_NoManifest_Msg", L"The Tarn server offers no update information. Nothing was changed.",
     L"Tarn 服务器没有提供升级信息。未做任何更改。"},
    {L"Update_BadManifest_Msg",
     L"The update information of the Tarn server cannot be used (it is damaged, or names a download elsewhere). Nothing was changed.",
     L"Tarn 服务器的升级信息无法使用（已损坏，或指向其他下载地址）。未做任何更改。"},
    {L"Update_NoPackage_Msg", L"A newer version exists, but the Tarn server offers none for this system. Nothing was changed.",
     L"已有新版本，但 Tarn 服务器没有提供适用于本系统的升级包。未做任何更改。"},
    {L"Update_Cancelled_Msg", L"The download was cancelled. Nothing was changed.", L"下载已取消。未做任何更改。"},
    {L"Update_DownloadFailed_Msg", L"The download broke off. Nothing was changed.", L"下载中断。未做任何更改。"},
    {L"Update_WrongDigest_Msg",
     L"The downloaded file is not the update the Tarn server announced (its size or checksum differs). It was deleted and nothing was changed.",
     L"下载的文件与 Tarn 服务器公布的升级包不符（大小或校验值不同）。该文件已删除，未做任何更改。"},
    {L"Update_OrlinRuns_Msg", L"Orlin could not be closed, so the update was not installed. Nothing was changed.",
     L"无法关闭 Orlin，因此未安装升级。未做任何更改。"},
    {L"Update_InstallFailed_Msg", L"The update could not be installed; the installed version was started again.",
     L"升级安装失败；已重新启动当前安装的版本。"},
};

}  // namespace

std::span<const MessageEntry> MessageEntries() { return kEntries; }

bool IsChinese(std::wstring_view language) { return language == kDefaultLanguage; }

std::optional<std::wstring> MessageText(std::wstring_view key, std::wstring_view language,
                                        std::wstring_view detail) {
  if (key.empty()) return std::nullopt;
  for (const auto& entry : kEntries) {
    if (!EqualsIgnoreCase(key, entry.key)) continue;
    std::wstring text = IsChinese(language) ? entry.chinese : entry.english;
    if (EqualsIgnoreCase(entry.key, kLoginFailedKey)) text += detail;
    return text;
  }
  return std::wstring(key);
}

std::optional<std::wstring> MessageTitleText(std::wstring_view title) {
  if (title.empty()) return std::nullopt;
  return std::wstring(L"Orlin");
}

std::wstring ReadLanguage(const std::filesystem::path& installDir) {
  return ReadLanguageFile(installDir).value_or(kDefaultLanguage);
}

std::wstring OkButtonText(std::wstring_view language) {
  return IsChinese(language) ? L"确  定" : L"OK";
}

std::wstring CancelButtonText(std::wstring_view language) {
  return IsChinese(language) ? L"取  消" : L"Cancel";
}

}  // namespace orlin
