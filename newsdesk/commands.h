// Command ids of the reader's menus, toolbar and tray menu.
#pragma once

namespace orvo {

enum class Cmd {
  Download = 32772,
  GenerateLit = 32773,
  Options = 32775,
  Contents = 32777,
  Filters = 32776,
  Search = 32782,
  SearchInFound = 32783,
  SearchWithFilter = 32794,
  ClearResults = 32799,
  SearchInText = 32812,
  TextLarger = 32823,
  TextLargest = 32824,
  TextMedium = 32825,
  TextSmaller = 32826,
  TextSmallest = 32827,
  SelectAll = 32828,
  Copy = 32829,
  PrintPreview = 32830,
  Print = 32831,
  FindInText = 32834,
  SaveAs = 32835,
  MarkRead = 32836,
  MarkUnread = 32837,
  ShowUnreadOnly = 32840,
  Delete = 32841,
  TipOfTheDay = 32842,
  CopyAddress = 32843,
  TrayShow = 32844,
  TrayExit = 32845,
  // Reading aids of this reader's own.
  NextUnread = 32901,
  PreviousUnread = 32902,
  MarkAllRead = 32903,
  OpenInBrowser = 32904,
  Shortcuts = 32905,
  SitesPane = 32906,
  AddSite = 32907,
  ImportOpml = 32908,
  ExportOpml = 32909,
  NextPane = 32910,
  PreviousPane = 32911,
  Quit = 32912,
  About = 57664,
  Exit = 57665,
};

}  // namespace orvo
