#include "ui/win32/main_window_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path.h"
#include "platform/process.h"
#include "platform/wide_win32.h"
#include "ui/win32/resource.h"
#include "window/window_model.h"

namespace quorvin::win32 {

namespace {

// A job from the model, posted to the window: lParam holds a heap std::function.
constexpr UINT kJobMessage = WM_APP + 1;
constexpr UINT_PTR kPollTimer = 1;
constexpr wchar_t kWindowClass[] = L"QuorvinMainWindow";
constexpr wchar_t kAboutClass[] = L"QuorvinAboutBox";

// The client area of the window, in twips (1/1440 inch): 9885 by 7680.
constexpr int kClientWidthTwips = 9885;
constexpr int kClientHeightTwips = 7680;

enum class Kind { kFrame, kLabel, kEdit, kButton, kCheck, kCombo, kDropList, kProgress };

// One control: its ID, kind, caption, and place in twips (left, top, width, height) on the
// window; a framed control's place is given relative to its frame, as the window's grid has
// it, and `frame` names the frame.
struct Control {
  int id;
  Kind kind;
  const char* caption;
  int frame;  // 0: on the window
  int x, y, w, h;
};

// The Linux window's grid: the same controls, captions and places.
const Control kControls[] = {
    {kIdFraMess, Kind::kFrame,
     "Mess Injector Options (If the path is left Blank Mess Injection is bypassed)", 0, 120, 120,
     5535, 975},
    {kIdLabel9, Kind::kLabel, "Path to MESS", kIdFraMess, 120, 600, 1125, 195},
    {kIdTxtMessPath, Kind::kEdit, "", kIdFraMess, 1320, 560, 3015, 285},
    {kIdCmdMessBrowse, Kind::kButton, "Browse", kIdFraMess, 4440, 575, 975, 255 + 60},
    {kIdFrmPreset, Kind::kFrame, "Load Exsisting Preset", 0, 5760, 120, 3975, 975},
    {kIdCmbPresets, Kind::kDropList, "", 0, 5880, 580, 3735, 315},
    {kIdFraDatGen, Kind::kFrame, "Dat File Generation Options", 0, 120, 1200, 4455, 2535},
    {kIdLabel4, Kind::kLabel, "Rom Folder(s)", kIdFraDatGen, 120, 480, 1155, 195},
    {kIdTxtRom, Kind::kEdit, "", kIdFraDatGen, 1320, 440, 3015, 285},
    {kIdLabel5, Kind::kLabel, "Extension", kIdFraDatGen, 120, 960, 1100, 195},
    {kIdTxtExtension, Kind::kEdit, "", kIdFraDatGen, 1320, 920, 615, 285},
    {kIdLabel6, Kind::kLabel, "Header Name", kIdFraDatGen, 120, 1440, 1150, 195},
    {kIdCmbHName, Kind::kCombo, "", kIdFraDatGen, 1320, 1400, 3015, 315},
    {kIdLabel7, Kind::kLabel, "Header Desc", kIdFraDatGen, 120, 1840, 1150, 195},
    {kIdTxtDesc, Kind::kEdit, "", kIdFraDatGen, 1320, 1800, 3015, 285},
    {kIdLabel8, Kind::kLabel, "Author", kIdFraDatGen, 120, 2200, 1000, 195},
    {kIdTxtAuthor, Kind::kEdit, "", kIdFraDatGen, 1320, 2160, 3015, 285},
    {kIdFrmRenaming, Kind::kFrame, "Post Renaming Options", 0, 4665, 1200, 5055, 1935},
    {kIdChkCvtRoms, Kind::kCheck, "Convert Roms to Good Names", kIdFrmRenaming, 240, 300, 2655,
     300},
    {kIdChkVerify, Kind::kCheck, "Verify zip contents", kIdFrmRenaming, 2955, 300, 1935, 300},
    {kIdLabel1, Kind::kLabel,
     "Add the Paths to any artwork files or misc. files you wish to be renamed using Good Names "
     "below.",
     kIdFrmRenaming, 240, 840, 4650, 420},
    {kIdTxtRenamePaths, Kind::kEdit, "", kIdFrmRenaming, 240, 1440, 4695, 285},
    {kIdLabel3, Kind::kLabel, "Output File", 0, 4680, 3400, 915, 255},
    {kIdTxtOutput, Kind::kEdit, "", 0, 5640, 3360, 3015, 285},
    {kIdCommand1, Kind::kButton, "Browse", 0, 8760, 3345, 975, 315},
    {kIdFrmDk, Kind::kFrame,
     "\"Magic\" Dragon King                 Options (If the path is left blank the rest are "
     "ignored)",
     0, 240, 3840, 9495, 2655},
    {kIdLabel2, Kind::kLabel, "Path to Dk", kIdFrmDk, 240, 360, 825, 195},
    {kIdTxtDkPath, Kind::kEdit, "", kIdFrmDk, 1080, 320, 7335, 285},
    {kIdCmdDkBrowse, Kind::kButton, "Browse", kIdFrmDk, 8520, 305, 900, 315},
    {kIdChkMakeCfg, Kind::kCheck,
     "Make Config File And Fill out all Known Data (Must Have Template.cfg in the cfgs folder)",
     kIdFrmDk, 240, 700, 8175, 300},
    {kIdChkRomAdd, Kind::kCheck, "Add Rom Paths to Dk if they are missing.", kIdFrmDk, 240, 1060,
     8175, 300},
    {kIdChkArtwork, Kind::kCheck, "Add Artwork Paths to Dk if they are missing.", kIdFrmDk, 240,
     1420, 8175, 300},
    {kIdChkVdirAdd, Kind::kCheck,
     "Add a Virtual Directory to Dk if one hasn't been built for this emulator.", kIdFrmDk, 240,
     1780, 8175, 300},
    {kIdChkDatAdd, Kind::kCheck, "Copy Output file to the List Generator/Dats folder.", kIdFrmDk,
     240, 2140, 8175, 300},
    {kIdCmdStart, Kind::kButton, "&Start", 0, 240, 6600, 975, 375},
    {kIdCmdSave, Kind::kButton, "Save Settings as Preset", 0, 1320, 6600, 1935, 375},
    {kIdCmdRevert, Kind::kButton, "Revert All Changes", 0, 3360, 6600, 1695, 375},
    // Not a setting of the run: presets do not keep it, and it starts cleared.
    {kIdChkRehash, Kind::kCheck, "Rehash all files", 0, 5175, 6645, 1935, 285},
    {kIdCmdReadme, Kind::kButton, "Read Me First", 0, 7200, 6600, 1335, 375},
    {kIdCmdAbout, Kind::kButton, "About", 0, 8760, 6600, 975, 375},
    {kIdLStatus, Kind::kLabel, "Status: Ready", 0, 240, 7140, 6600, 420},
    {kIdProgress, Kind::kProgress, "", 0, 6960, 7200, 2775, 300},
    // Laid over the run of blanks in the Dragon King frame's caption.
    {kIdLabel10, Kind::kLabel, "ONLY", kIdFrmDk, 1780, 0, 520, 225},
};

const Control* FindControl(int id) {
  for (const Control& c : kControls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

// The text fields and check boxes, by the model's field each shows.
struct TextBox {
  int id;
  window::TextField field;
};
constexpr TextBox kTextBoxes[] = {
    {kIdTxtMessPath, window::TextField::kMessPath},
    {kIdTxtRom, window::TextField::kRom},
    {kIdTxtExtension, window::TextField::kExtension},
    {kIdTxtDesc, window::TextField::kDesc},
    {kIdTxtAuthor, window::TextField::kAuthor},
    {kIdTxtRenamePaths, window::TextField::kRenamePaths},
    {kIdTxtOutput, window::TextField::kOutput},
    {kIdTxtDkPath, window::TextField::kDkPath},
};
struct CheckBox {
  int id;
  window::CheckField field;
};
constexpr CheckBox kCheckBoxes[] = {
    {kIdChkCvtRoms, window::CheckField::kCvtRoms}, {kIdChkVerify, window::CheckField::kVerify},
    {kIdChkMakeCfg, window::CheckField::kMakeCfg}, {kIdChkRomAdd, window::CheckField::kRomAdd},
    {kIdChkArtwork, window::CheckField::kArtwork}, {kIdChkVdirAdd, window::CheckField::kVdirAdd},
    {kIdChkDatAdd, window::CheckField::kDatAdd},
};
// The inputs, disabled while a command runs.
constexpr int kInputs[] = {kIdTxtMessPath,  kIdCmdMessBrowse, kIdCmbPresets,     kIdTxtRom,
                           kIdTxtExtension, kIdCmbHName,      kIdTxtDesc,        kIdTxtAuthor,
                           kIdChkCvtRoms,   kIdChkVerify,     kIdTxtRenamePaths, kIdTxtOutput,
                           kIdCommand1,     kIdTxtDkPath,     kIdCmdDkBrowse,    kIdChkMakeCfg,
                           kIdChkRomAdd,    kIdChkArtwork,    kIdChkVdirAdd,     kIdChkDatAdd,
                           kIdCmdStart,     kIdCmdSave,       kIdCmdRevert,      kIdChkRehash,
                           kIdCmdReadme,    kIdCmdAbout};

// The monitor's scale for a window: GetDpiForWindow where Windows has it (10, 1607 on),
// else the system's.
UINT DpiOf(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi != nullptr && hwnd != nullptr) {
    const UINT dpi = get_dpi(hwnd);
    if (dpi != 0) return dpi;
  }
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The message font of the system at `dpi`: SPI_GETNONCLIENTMETRICS gives it at the system's
// scale; it is scaled to the monitor's.
LOGFONTW MessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  LOGFONTW font{};
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    font = metrics.lfMessageFont;
  } else {
    font.lfHeight = -12;
    wcscpy_s(font.lfFaceName, L"Segoe UI");
  }
  const UINT system_dpi = DpiOf(nullptr);
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(system_dpi));
  return font;
}

std::wstring WindowText(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

class MainWindow;

// The about box: the icon's picture, four lines and "Ok"; one at a time, not modal.
class AboutBox {
 public:
  static void Show(HINSTANCE instance, HWND owner, HFONT font, HFONT bold, HWND* slot);
};

class MainWindow : public window::ViewPort {
 public:
  MainWindow(HINSTANCE instance, const std::string& program_folder)
      : instance_(instance), model_(std::make_unique<window::WindowModel>(program_folder, *this)) {}

  ~MainWindow() override {
    // The model waits for a run still going; a job it posts to a window that is gone is
    // freed by Post.
    model_.reset();
    DeleteFonts();
  }

  HWND Create(const std::vector<std::string>& args) {
    args_ = args;
    RECT r{0, 0, 800, 600};
    hwnd_ = CreateWindowExW(0, kWindowClass, Widen(window::kWindowTitle).c_str(),
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                            CW_USEDEFAULT, r.right, r.bottom, nullptr, nullptr, instance_, this);
    return hwnd_;
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void SetHwnd(HWND hwnd) { hwnd_ = hwnd; }
  int exit_status() const { return model_->exit_status(); }

  // window::ViewPort
  void Post(std::function<void()> job) override {
    auto* heap = new std::function<void()>(std::move(job));
    if (hwnd_ == nullptr || !PostMessageW(hwnd_, kJobMessage, 0, reinterpret_cast<LPARAM>(heap))) {
      delete heap;  // the window is gone: nobody waits for it
    }
  }
  void ShowMessage(const std::string& title, const std::string& text) override {
    MessageBoxW(hwnd_, Widen(text).c_str(), Widen(title).c_str(), MB_OK);
  }
  bool Confirm(const std::string& title, const std::string& text) override {
    return MessageBoxW(hwnd_, Widen(text).c_str(), Widen(title).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  }
  std::string PickFolder(const std::string& initial, const std::string& title) override;
  std::string PickSaveFile(const std::string& initial) override;
  bool OpenFile(const std::string& path) override {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(hwnd_, L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED));
    return result > 32;
  }
  void ShowAbout() override { AboutBox::Show(instance_, hwnd_, font_, bold_font_, &about_); }
  void SettingsChanged() override;
  void SystemListChanged() override;
  void PresetsChanged() override;
  void StatusChanged() override;
  void RunningChanged() override;
  void ProgramEnds(int exit_status) override {
    (void)exit_status;  // the model keeps it: exit_status()
    if (about_ != nullptr) DestroyWindow(about_);
    DestroyWindow(hwnd_);
  }
  void CloseNow() override { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

 private:
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  void CreateControls();
  void Layout();
  void PlaceOnly();
  void MakeFonts();
  void DeleteFonts();
  // Twips of the grid to pixels: the monitor's scale, times the font's (`fit_`).
  int Px(int twips) const {
    return static_cast<int>(twips * static_cast<double>(dpi_) / 1440.0 * fit_ + 0.5);
  }
  // The grid was drawn for a font smaller than today's message fonts: how much it must grow
  // for every caption to fit its control in the font in use.
  double FitFactor() const;
  void SetText(int id, const std::string& utf8);
  std::string Text(int id) const { return Narrow(WindowText(Item(id))); }
  void FillSystemList(const SystemBox& box);
  void OnCommand(int id, int code);
  void TakeSystemText();
  std::vector<std::string> ReadmeCandidates() const;

  HINSTANCE instance_;
  std::unique_ptr<window::WindowModel> model_;
  std::vector<std::string> args_;
  HWND hwnd_ = nullptr;
  HWND about_ = nullptr;
  UINT dpi_ = 96;
  double fit_ = 1.0;
  HFONT font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HFONT status_font_ = nullptr;
  bool updating_ = false;
};

void MainWindow::MakeFonts() {
  DeleteFonts();
  LOGFONTW f = MessageFont(dpi_);
  font_ = CreateFontIndirectW(&f);
  LOGFONTW b = f;
  b.lfWeight = FW_BOLD;
  bold_font_ = CreateFontIndirectW(&b);
  // The status line is larger, as on the Linux window (14.25 pt against 9 pt).
  LOGFONTW s = f;
  s.lfHeight = MulDiv(f.lfHeight, 1425, 900);
  status_font_ = CreateFontIndirectW(&s);
}

void MainWindow::DeleteFonts() {
  for (HFONT* f : {&font_, &bold_font_, &status_font_}) {
    if (*f != nullptr) DeleteObject(*f);
    *f = nullptr;
  }
}

void MainWindow::CreateControls() {
  for (const Control& c : kControls) {
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD ex = 0;
    switch (c.kind) {
      case Kind::kFrame:
        cls = L"BUTTON";
        style |= BS_GROUPBOX;
        break;
      case Kind::kLabel:
        style |= SS_NOPREFIX | (c.id == kIdLabel1 ? SS_LEFT : SS_LEFTNOWORDWRAP);
        if (c.id == kIdLStatus) style |= SS_PATHELLIPSIS | SS_NOTIFY;
        break;
      case Kind::kEdit:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        ex = WS_EX_CLIENTEDGE;
        break;
      case Kind::kButton:
        cls = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
      case Kind::kCheck:
        cls = L"BUTTON";
        style |= WS_TABSTOP | BS_AUTOCHECKBOX;
        break;
      case Kind::kCombo:
        cls = WC_COMBOBOXW;
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        break;
      case Kind::kDropList:
        cls = WC_COMBOBOXW;
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT;
        break;
      case Kind::kProgress:
        cls = PROGRESS_CLASSW;
        style &= ~WS_VISIBLE;
        break;
    }
    CreateWindowExW(ex, cls, Widen(c.caption).c_str(), style, 0, 0, 10, 10, hwnd_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
  }
  // The preset list is in the folder's name order, as the model gives it: no sorting here.
  SetWindowLongPtrW(Item(kIdCmbPresets), GWL_STYLE,
                    GetWindowLongPtrW(Item(kIdCmbPresets), GWL_STYLE) & ~CBS_SORT);
  // Frames below everything, so that they never paint over the controls they hold.
  for (const Control& c : kControls) {
    if (c.kind == Kind::kFrame) {
      SetWindowPos(Item(c.id), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  SendMessageW(Item(kIdTxtExtension), EM_SETLIMITTEXT, window::kExtensionMaxTyped, 0);
  SendMessageW(Item(kIdProgress), PBM_SETRANGE32, 0, 1000);
}

double MainWindow::FitFactor() const {
  HDC dc = GetDC(hwnd_);
  double fit = 1.0;
  const int unit = MulDiv(1, static_cast<int>(dpi_), 96);
  for (const Control& c : kControls) {
    int padding = 0;
    HFONT font = font_;
    switch (c.kind) {
      case Kind::kFrame:
        padding = 20 * unit;
        break;
      case Kind::kLabel:
        padding = 2 * unit;
        break;
      case Kind::kButton:
        padding = 12 * unit;
        break;
      case Kind::kCheck:
        padding = 24 * unit;
        break;
      default:
        continue;
    }
    // The read-me label wraps; the status line cuts long texts in the middle.
    if (c.id == kIdLabel1 || c.id == kIdLStatus || c.id == kIdLabel10) continue;
    const std::wstring text = Widen(c.caption);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    const double room = c.w * static_cast<double>(dpi_) / 1440.0;
    fit = std::max(fit, (size.cx + padding) / room);
  }
  ReleaseDC(hwnd_, dc);
  return std::min(fit, 2.0);
}

void MainWindow::Layout() {
  MakeFonts();
  fit_ = FitFactor();
  TEXTMETRICW tm{};
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font_);
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  const int line = tm.tmHeight + tm.tmExternalLeading;
  for (const Control& c : kControls) {
    int x = c.x, y = c.y;
    if (c.frame != 0) {
      const Control* f = FindControl(c.frame);
      x += f->x;
      y += f->y;
    }
    int h = Px(c.h);
    // A label or a check box is never lower than its line of text; a combo box's height is
    // that of its list when dropped.
    if (c.kind == Kind::kLabel || c.kind == Kind::kCheck || c.kind == Kind::kEdit) {
      h = std::max(h, line + 4);
    }
    if (c.kind == Kind::kCombo || c.kind == Kind::kDropList) h = Px(3000);
    HWND item = Item(c.id);
    SetWindowPos(item, nullptr, Px(x), Px(y), Px(c.w), h, SWP_NOZORDER | SWP_NOACTIVATE);
    HFONT f = c.id == kIdLabel10 ? bold_font_ : c.id == kIdLStatus ? status_font_ : font_;
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
  }
  PlaceOnly();
}

// The bold ONLY sits on the run of blanks of the Dragon King frame's caption, in the middle
// of it, whatever the font makes of the caption.
void MainWindow::PlaceOnly() {
  const Control* frame = FindControl(kIdFrmDk);
  const std::wstring caption = Widen(frame->caption);
  const size_t blanks_from = caption.find(L"  ");
  const size_t blanks_to = caption.find_first_not_of(L' ', blanks_from);
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font_);
  SIZE before{}, run{}, only{};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(blanks_from), &before);
  GetTextExtentPoint32W(dc, caption.c_str() + blanks_from,
                        static_cast<int>(blanks_to - blanks_from), &run);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, bold_font_);
  GetTextExtentPoint32W(dc, L"ONLY", 4, &only);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  // A group box's caption starts about one average character in from its left edge.
  const int left = Px(frame->x) + tm.tmAveCharWidth + before.cx + (run.cx - only.cx) / 2;
  SetWindowPos(Item(kIdLabel10), HWND_TOP, left, Px(frame->y), only.cx + 2, only.cy,
               SWP_NOACTIVATE);
}

void MainWindow::SetText(int id, const std::string& utf8) {
  const std::wstring wide = Widen(utf8);
  if (WindowText(Item(id)) != wide) SetWindowTextW(Item(id), wide.c_str());
}

void MainWindow::SettingsChanged() {
  const RunSettings& s = model_->settings();
  updating_ = true;
  // A preset may hold a longer extension than can be typed; it is shown as it is.
  SendMessageW(Item(kIdTxtExtension), EM_SETLIMITTEXT,
               std::max(window::kExtensionMaxTyped, s.txtExtension.size()), 0);
  for (const TextBox& t : kTextBoxes) SetText(t.id, window::TextOf(s, t.field));
  FillSystemList(s.cmbHName);
  SetText(kIdCmbHName, s.cmbHName.text);
  for (const CheckBox& c : kCheckBoxes) {
    Button_SetCheck(Item(c.id), window::CheckOf(s, c.field) ? BST_CHECKED : BST_UNCHECKED);
  }
  Button_SetCheck(Item(kIdChkRehash), model_->rehash() ? BST_CHECKED : BST_UNCHECKED);
  updating_ = false;
}

void MainWindow::FillSystemList(const SystemBox& box) {
  HWND combo = Item(kIdCmbHName);
  const std::wstring text = WindowText(combo);
  const bool was = updating_;
  updating_ = true;
  ComboBox_ResetContent(combo);
  for (const std::string& name : box.list) ComboBox_AddString(combo, Widen(name).c_str());
  if (box.selected && *box.selected < box.list.size()) {
    ComboBox_SetCurSel(combo, static_cast<int>(*box.selected));
  } else {
    SetWindowTextW(combo, text.c_str());  // refilling the list keeps what the box shows
  }
  updating_ = was;
}

void MainWindow::SystemListChanged() { FillSystemList(model_->settings().cmbHName); }

void MainWindow::PresetsChanged() {
  HWND combo = Item(kIdCmbPresets);
  ComboBox_ResetContent(combo);
  for (const std::string& name : model_->presets()) ComboBox_AddString(combo, Widen(name).c_str());
  ComboBox_SetCurSel(combo, -1);
}

void MainWindow::StatusChanged() {
  const window::StatusView v = model_->status_view();
  SetText(kIdLStatus, v.status);
  HWND bar = Item(kIdProgress);
  if (!v.bar_shown) {
    ShowWindow(bar, SW_HIDE);
    return;
  }
  const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  if (v.bar_busy) {
    if ((style & PBS_MARQUEE) == 0) {
      SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
      SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
    }
  } else {
    if ((style & PBS_MARQUEE) != 0) {
      SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
      SetWindowLongPtrW(bar, GWL_STYLE, style & ~PBS_MARQUEE);
    }
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(v.bar_permille), 0);
  }
  // A progress bar draws no words: "3 of 10 files, 2.1 of 8.0 GiB" is kept as its window
  // text, for screen readers and tests.
  SetWindowTextW(bar, Widen(v.bar_text).c_str());
  ShowWindow(bar, SW_SHOWNA);
}

void MainWindow::RunningChanged() {
  const bool enabled = model_->inputs_enabled();
  for (int id : kInputs) EnableWindow(Item(id), enabled ? TRUE : FALSE);
  if (model_->running()) {
    SetTimer(hwnd_, kPollTimer, window::kStatusPollMs, nullptr);
  } else {
    KillTimer(hwnd_, kPollTimer);
  }
}

std::string MainWindow::PickFolder(const std::string& initial, const std::string& title) {
  std::string chosen;
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&dialog)))) {
    return chosen;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR);
  dialog->SetTitle(Widen(title).c_str());
  // A start folder that does not exist leaves the dialog at its own default.
  if (!initial.empty()) {
    IShellItem* start = nullptr;
    if (SUCCEEDED(
            SHCreateItemFromParsingName(Widen(initial).c_str(), nullptr, IID_PPV_ARGS(&start)))) {
      dialog->SetFolder(start);
      start->Release();
    }
  }
  if (SUCCEEDED(dialog->Show(hwnd_))) {
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->GetResult(&item))) {
      PWSTR path = nullptr;
      // A place with no path on disk (the computer, a network root) gives nothing.
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path != nullptr) {
        chosen = Narrow(path);
        CoTaskMemFree(path);
      }
      item->Release();
    }
  }
  dialog->Release();
  return chosen;
}

std::string MainWindow::PickSaveFile(const std::string& initial) {
  // Room for a long path: the dialog itself writes past MAX_PATH when asked to.
  std::vector<wchar_t> buffer(32768, L'\0');
  const std::wstring start = Widen(initial);
  std::copy_n(start.begin(), std::min(start.size(), buffer.size() - 1), buffer.begin());
  std::wstring filter;
  for (std::string_view part : {window::kDatFilterText, window::kDatFilterPattern,
                                window::kXmlFilterText, window::kXmlFilterPattern}) {
    filter += Widen(part);
    filter += L'\0';
  }
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = filter.c_str();  // ends in two NULs: the last part's and the string's own
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&ofn)) return std::string();  // cancelled
  std::string chosen = Narrow(buffer.data());
  // The name's ending chooses the dat's format: a name typed without one under the XML
  // filter gets it (the model gives any other name without one ".dat").
  if (ofn.nFilterIndex == 2 && FileNameOf(chosen).find('.') == std::string_view::npos) {
    chosen += ".xml";
  }
  return chosen;
}

std::vector<std::string> MainWindow::ReadmeCandidates() const {
  std::vector<std::string> out;
  for (const std::string& folder : {ExecutableFolder(), model_->program_folder()}) {
    if (folder.empty()) continue;
    const std::string path = JoinPath(folder, "readme.txt");
    if (std::find(out.begin(), out.end(), path) == out.end()) out.push_back(path);
  }
  return out;
}

void MainWindow::TakeSystemText() {
  // The combo box tells of typing (CBN_EDITCHANGE) but not of every way its text can be set
  // (a text pasted into it by another program, say): a command takes the text as it stands.
  const std::string shown = Text(kIdCmbHName);
  if (shown != model_->settings().cmbHName.text) model_->SetText(window::TextField::kSystem, shown);
}

void MainWindow::OnCommand(int id, int code) {
  for (const TextBox& t : kTextBoxes) {
    if (t.id == id) {
      if (code == EN_CHANGE && !updating_) model_->SetText(t.field, Text(id));
      return;
    }
  }
  for (const CheckBox& c : kCheckBoxes) {
    if (c.id == id) {
      if (code == BN_CLICKED && !updating_) {
        model_->SetCheck(c.field, Button_GetCheck(Item(id)) == BST_CHECKED);
      }
      return;
    }
  }
  switch (id) {
    case kIdChkRehash:
      if (code == BN_CLICKED && !updating_) {
        model_->SetRehash(Button_GetCheck(Item(id)) == BST_CHECKED);
      }
      return;
    case kIdCmbHName:
      if (updating_) return;
      if (code == CBN_SELCHANGE) {
        const int index = ComboBox_GetCurSel(Item(id));
        if (index >= 0) model_->ChooseSystem(static_cast<size_t>(index));
      } else if (code == CBN_EDITCHANGE) {
        model_->SetText(window::TextField::kSystem, Text(id));
      }
      return;
    case kIdCmbPresets:
      if (code == CBN_SELCHANGE) {
        const int index = ComboBox_GetCurSel(Item(id));
        if (index >= 0) model_->PickPreset(static_cast<size_t>(index));
      }
      return;
    default:
      break;
  }
  if (code != BN_CLICKED) return;
  if (id == kIdCmdStart || id == kIdCmdRevert || id == kIdCmdSave) TakeSystemText();
  switch (id) {
    case kIdCmdStart:
      model_->Start();
      break;
    case kIdCmdRevert:
      model_->Revert();
      break;
    case kIdCmdSave:
      model_->SavePreset();
      break;
    case kIdCmdMessBrowse:
      model_->BrowseMess();
      break;
    case kIdCmdDkBrowse:
      model_->BrowseDk();
      break;
    case kIdCommand1:
      model_->BrowseOutput();
      break;
    case kIdCmdReadme:
      model_->OpenReadme(ReadmeCandidates());
      break;
    case kIdCmdAbout:
      model_->About();
      break;
    default:
      break;
  }
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      dpi_ = DpiOf(hwnd_);
      CreateControls();
      Layout();
      // The client area of the grid, at this monitor's scale.
      RECT r{0, 0, Px(kClientWidthTwips), Px(kClientHeightTwips)};
      AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE, 0);
      SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      SettingsChanged();
      if (args_.empty()) {
        model_->StartInteractive();
      } else {
        // Once the window is on screen, so that the run's messages have it as their owner.
        Post([this] { model_->StartCommandLine(args_); });
      }
      return 0;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: fonts and places anew, at the size Windows
      // suggests.
      dpi_ = HIWORD(wp);
      Layout();
      const RECT* suggested = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(hwnd_, nullptr, TRUE);
      return 0;
    }
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp));
      return 0;
    case WM_TIMER:
      if (wp == kPollTimer) model_->PollStatus();
      return 0;
    case kJobMessage: {
      std::unique_ptr<std::function<void()>> job(reinterpret_cast<std::function<void()>*>(lp));
      if (job && *job) (*job)();
      return 0;
    }
    case WM_CLOSE:
      if (!model_->running()) TakeSystemText();
      if (model_->RequestClose()) {
        if (about_ != nullptr) DestroyWindow(about_);
        DestroyWindow(hwnd_);
      }
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd_, kPollTimer);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCCREATE) self->SetHwnd(hwnd);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  return self->Handle(msg, wp, lp);
}

// ---- About box ----

struct AboutState {
  HICON picture = nullptr;
  HWND* slot = nullptr;
  int picture_size = 128;
};

LRESULT CALLBACK AboutProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<AboutState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE:
      SetWindowLongPtrW(
          hwnd, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
      break;
    case WM_CTLCOLORSTATIC:
      // White, as the box is drawn on Linux.
      SetBkColor(reinterpret_cast<HDC>(wp), RGB(255, 255, 255));
      SetTextColor(reinterpret_cast<HDC>(wp), RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (state != nullptr && state->picture != nullptr) {
        const int margin = state->picture_size / 8;
        DrawIconEx(dc, margin, margin, state->picture, state->picture_size, state->picture_size, 0,
                   nullptr, DI_NORMAL);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) DestroyWindow(hwnd);
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_NCDESTROY:
      if (state != nullptr) {
        if (state->picture != nullptr) DestroyIcon(state->picture);
        if (state->slot != nullptr) *state->slot = nullptr;
        delete state;
      }
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void AboutBox::Show(HINSTANCE instance, HWND owner, HFONT font, HFONT bold, HWND* slot) {
  if (*slot != nullptr) {
    ShowWindow(*slot, SW_SHOW);
    SetForegroundWindow(*slot);
    return;
  }
  const UINT dpi = DpiOf(owner);
  auto px = [dpi](int twips) { return MulDiv(twips, static_cast<int>(dpi), 1440); };
  auto* state = new AboutState;
  state->slot = slot;
  state->picture_size = MulDiv(128, static_cast<int>(dpi), 96);
  state->picture =
      static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUORVIN), IMAGE_ICON,
                                    state->picture_size, state->picture_size, LR_DEFAULTCOLOR));
  // The text column is wider than the Linux box's: the system's message font may be larger
  // than the one the Linux layout was drawn for, and a wrapped line must not lose its end.
  constexpr int kTextWidth = 3495;
  RECT r{0, 0, px(3600 + kTextWidth + 135), px(3375)};
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
  RECT o;
  GetWindowRect(owner, &o);
  HWND box = CreateWindowExW(WS_EX_DLGMODALFRAME, kAboutClass, L"About", style, o.left + px(600),
                             o.top + px(600), r.right - r.left, r.bottom - r.top, owner, nullptr,
                             instance, state);
  if (box == nullptr) {
    delete state;
    return;
  }
  *slot = box;
  struct Line {
    const wchar_t* text;
    int top, height;
    bool bold;
  };
  const Line lines[] = {
      {L"Quorvin", 120, 495, true},
      {L"Dat Generator / Info Injector / Good Renamer", 480, 1095, false},
      {L"Version 1.0", 1560, 495, false},
      {L"Written for ROM collectors by the Quorvin authors, 2004", 2160, 600, false}};
  const int left = px(3000) + px(600);
  for (const Line& l : lines) {
    HWND label =
        CreateWindowExW(0, L"STATIC", l.text, WS_CHILD | WS_VISIBLE | SS_LEFT, left, px(l.top),
                        px(kTextWidth), px(l.height), box, nullptr, instance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(l.bold ? bold : font), TRUE);
  }
  HWND ok =
      CreateWindowExW(0, L"BUTTON", L"Ok", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                      px(3600 + kTextWidth - 1335), px(2760), px(1335), px(375), box,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance, nullptr);
  SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ShowWindow(box, SW_SHOW);
}

bool RegisterClasses(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUORVIN));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUORVIN), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (RegisterClassExW(&wc) == 0) return false;
  WNDCLASSEXW about{};
  about.cbSize = sizeof(about);
  about.lpfnWndProc = AboutProc;
  about.hInstance = instance;
  about.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  about.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  about.lpszClassName = kAboutClass;
  return RegisterClassExW(&about) != 0;
}

}  // namespace

int RunMainWindow(HINSTANCE instance, const std::string& program_folder,
                  const std::vector<std::string>& args) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  const bool com =
      SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  if (!RegisterClasses(instance)) return kExitStopped;
  int status = kExitStopped;
  {
    MainWindow window(instance, program_folder);
    HWND hwnd = window.Create(args);
    if (hwnd != nullptr) {
      ShowWindow(hwnd, SW_SHOWNORMAL);
      UpdateWindow(hwnd);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(hwnd, &msg)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      }
      status = window.exit_status();
    }
  }
  if (com) CoUninitialize();
  return status;
}

}  // namespace quorvin::win32
