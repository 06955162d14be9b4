#pragma once
// Every activity-log message, as printf formats. The owners write them before
// the action they describe.
namespace kv::msg {

// Start-up and shut-down.
inline constexpr char kSeparator[] = "--------------------------------------------------------";
inline constexpr char kStarted[] = "Application has started (by %s; build %s)";
inline constexpr char kOpenAfterUninstPage[] = "{openafteruninstpage} has been requested.";
inline constexpr char kUninstalled[] = "Uninstalled.";
inline constexpr char kExitByUser[] = "Exit (by user).";
inline constexpr char kShowAbout[] = "Show about info.";

// General settings.
inline constexpr char kSwitchedAutorun[] = "User switched %s autorun.";
inline constexpr char kChangedInterval[] = "User has changed auto updates interval to %s";
inline constexpr char kDisabledAutoUpdates[] = "User has disabled auto updates.";
inline constexpr char kBetaNotification[] = "User has %s notification on beta versions";

// Data files.
inline constexpr char kDataFileBroken[] =
    "%s is not a readable document; it was kept as %s and a new one will be started.";
inline constexpr char kDataFileNotRead[] =
    "%s could not be read (%s); it will not be replaced until it can be read.";

// Crash handling.
inline constexpr char kCrashed[] = "Application crashed. User has choosen to %s the crash report.";

// Main frame and tray icon.
inline constexpr char kTrayLeftClick[] = "Left button clicked on the tray icon.";
inline constexpr char kTrayRightClick[] = "Right button clicked on the tray icon.";
inline constexpr char kShowMainWindow[] = "Show main window.";
inline constexpr char kCloseMainWindow[] = "Close main window (%s).";
inline constexpr char kOpenGeneralSettings[] = "Open general settings.";
inline constexpr char kAdjustNotifications[] = "Adjust notification settings.";

// Update-check scheduler.
inline constexpr char kPerformingCheck[] = "Performing check for updates etc.";
inline constexpr char kUserLaunchedCheck[] = "Check for updates for softwares (launched by user)";
inline constexpr char kContactedServer[] = "Contacted server. Soft count: %d";
inline constexpr char kRegisterAccount[] = "Register or set up account";
inline constexpr char kAccountRegistered[] = "New account has been registered or set up";
inline constexpr char kOpenUsersPage[] = "Open user's page";

// Notification history.
inline constexpr char kShowBalloon[] = "Have news or etc. Show notification balloon.";

// Notification balloons and subscriptions.
inline constexpr char kBalloonClicked[] = "left mouse button clicked in balloon";
inline constexpr char kBalloonTimeoutChanged[] = "User has changed balloon show timeout to %s";
inline constexpr char kSoftNotificationsChanged[] = "Notifications for softwares has been changed: %.*g";
inline constexpr char kCommonNotificationsChanged[] =
    "User has changed common notification settings. Now are: %s";

// Main window program commands.
inline constexpr char kLaunchSoft[] = "Launch soft: %s";
inline constexpr char kVisitSite[] = "Visit site of: %s";
inline constexpr char kVisitPublisher[] = "Visit publisher of: %s";
inline constexpr char kAskOtherUsers[] = "Ask other users about: %s";
inline constexpr char kWriteComment[] = "Write comment for: %s";
inline constexpr char kCommentWritten[] = "Comment was written";
inline constexpr char kCommentNotWritten[] = "Comment was NOT written";
inline constexpr char kNotifyComments[] = "OnNotifyaboutnewcomments: %s";
inline constexpr char kNotifyQuestions[] = "OnNotifyaboutnewquestions: %s";
inline constexpr char kNotifyUpdates[] = "OnNotifyaboutupdates: %s";
inline constexpr char kNotifyAnswers[] = "OnNotifyaboutnewanswers: %s";
inline constexpr char kSetRating[] = "Set rating [%d] for: %s";
inline constexpr char kUninstallSoft[] = "Uninstall soft: %s";
inline constexpr char kClickedTab[] = "Clicked tab: %s";

}  // namespace kv::msg
