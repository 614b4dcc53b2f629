// GTK 3 views of the stand-in's dialogs, message boxes and the save-file
// chooser. Built as a loadable module: the stand-in opens it only when a
// desktop is used (desktop_ui.h), so headless runs never load GTK.
#include "platform/win32/desktop_ui.h"
#include "platform/win32/message_box.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

using platform::ControlKind;
using platform::desktop::ControlState;
using platform::desktop::DialogHost;
using platform::desktop::Image;

// Win32 marks the mnemonic with '&' ("&&" is a literal ampersand); GTK
// uses '_' and "__".
std::string mnemonicText(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

std::string plainText(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&')
                out += '&', ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// GTK wants UTF-8; the engine's texts are 8-bit. Anything that is not valid
// UTF-8 is read as Latin-1.
std::string utf8(const std::string& text)
{
    if (g_utf8_validate(text.c_str(), (gssize)text.size(), nullptr))
        return text;
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

GdkPixbuf* pixbufFrom(const Image& image)
{
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != size_t(image.width) * size_t(image.height) * 4)
        return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    if (!pixbuf)
        return nullptr;
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < image.height; ++y)
        std::copy_n(&image.rgba[size_t(y) * image.width * 4], size_t(image.width) * 4, pixels + size_t(y) * stride);
    return pixbuf;
}

// GtkFixed gives a child its natural size, and a combo box's natural size
// follows its longest entry; long entries are ellipsized instead, so that
// the list keeps the template's width.
void limitComboWidth(GtkWidget* combo, int width)
{
    PangoFontMetrics* metrics = pango_context_get_metrics(gtk_widget_get_pango_context(combo), nullptr, nullptr);
    const int charWidth = std::max(1, pango_font_metrics_get_approximate_char_width(metrics) / PANGO_SCALE);
    pango_font_metrics_unref(metrics);
    const int chars = std::max(3, (width - 44) / charWidth);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(combo));
    for (GList* cell = cells; cell; cell = cell->next)
        if (GTK_IS_CELL_RENDERER_TEXT(cell->data))
            g_object_set(cell->data, "ellipsize", PANGO_ELLIPSIZE_END, "max-width-chars", chars, nullptr);
    g_list_free(cells);
}

class DialogView {
public:
    explicit DialogView(DialogHost& host) : host_(host) {}

    ~DialogView()
    {
        if (presentIdle_)
            g_source_remove(presentIdle_);
        if (window_)
            gtk_widget_destroy(window_);
        for (GtkWidget* hidden : hiddenRadios_)
            g_object_unref(hidden);
    }

    // What the title bar's close button does.
    void close()
    {
        if (!host_.ended())
            host_.closeRequested();
    }

    void run()
    {
        build();
        sync();
        const guint timer = g_timeout_add(25, &DialogView::onTick, this);
        while (!host_.ended())
            gtk_main_iteration_do(TRUE);
        g_source_remove(timer);
        gtk_widget_hide(window_);
        while (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
    }

private:
    struct Entry {
        GtkWidget* widget = nullptr;
        ControlKind kind = ControlKind::Label;
        GtkWidget* groupHidden = nullptr; // radio buttons: the group's "none checked" button
        ControlState shown;
        bool built = false;
    };

    DialogHost& host_;
    GtkWidget* window_ = nullptr;
    std::vector<Entry> entries_;
    std::vector<GtkWidget*> hiddenRadios_;
    bool syncing_ = false;
    bool presented_ = false;
    guint presentIdle_ = 0; // pending until the first frame is reported

    struct Binding {
        DialogView* view;
        size_t index;
    };
    std::vector<std::unique_ptr<Binding>> bindings_;

    gpointer bind(size_t index)
    {
        bindings_.push_back(std::make_unique<Binding>(Binding{this, index}));
        return bindings_.back().get();
    }

    void build()
    {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window_), utf8(host_.caption()).c_str());
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
        gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
        gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
        g_signal_connect(window_, "delete-event", G_CALLBACK(&DialogView::onDelete), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(&DialogView::onKey), this);
        g_signal_connect_after(window_, "draw", G_CALLBACK(&DialogView::onDraw), this);

        GtkWidget* fixed = gtk_fixed_new();
        gtk_widget_set_size_request(fixed, host_.clientWidth(), host_.clientHeight());
        gtk_container_add(GTK_CONTAINER(window_), fixed);

        GSList* radioGroup = nullptr;
        GtkWidget* groupHidden = nullptr;
        entries_.resize(host_.controlCount());
        for (size_t i = 0; i < entries_.size(); ++i) {
            const ControlState c = host_.control(i);
            Entry& e = entries_[i];
            e.kind = c.kind;
            GtkWidget* w = nullptr;
            switch (c.kind) {
            case ControlKind::PushButton:
            case ControlKind::DefaultPushButton:
                w = gtk_button_new_with_mnemonic(utf8(mnemonicText(c.text)).c_str());
                g_signal_connect(w, "clicked", G_CALLBACK(&DialogView::onClicked), bind(i));
                if (c.kind == ControlKind::DefaultPushButton) {
                    gtk_widget_set_can_default(w, TRUE);
                    gtk_style_context_add_class(gtk_widget_get_style_context(w), "suggested-action");
                }
                break;
            case ControlKind::CheckBox:
                w = gtk_check_button_new_with_mnemonic(utf8(mnemonicText(c.text)).c_str());
                g_signal_connect(w, "toggled", G_CALLBACK(&DialogView::onToggled), bind(i));
                break;
            case ControlKind::RadioButton:
                // Win32 lets a group have no button checked; GTK does not, so
                // each group carries an invisible member that stands for
                // "none".
                if (c.groupStart || !groupHidden) {
                    groupHidden = gtk_radio_button_new(nullptr);
                    g_object_ref_sink(groupHidden);
                    hiddenRadios_.push_back(groupHidden);
                    radioGroup = gtk_radio_button_get_group(GTK_RADIO_BUTTON(groupHidden));
                }
                w = gtk_radio_button_new_with_mnemonic(radioGroup, utf8(mnemonicText(c.text)).c_str());
                radioGroup = gtk_radio_button_get_group(GTK_RADIO_BUTTON(w));
                e.groupHidden = groupHidden;
                g_signal_connect(w, "toggled", G_CALLBACK(&DialogView::onToggled), bind(i));
                break;
            case ControlKind::GroupBox:
                w = gtk_frame_new(utf8(plainText(c.text)).c_str());
                break;
            case ControlKind::Label:
                w = gtk_label_new(utf8(plainText(c.text)).c_str());
                gtk_label_set_xalign(GTK_LABEL(w), 0.0f);
                break;
            case ControlKind::Edit:
                w = gtk_entry_new();
                gtk_entry_set_activates_default(GTK_ENTRY(w), TRUE);
                gtk_entry_set_width_chars(GTK_ENTRY(w), 4);
                g_signal_connect(w, "changed", G_CALLBACK(&DialogView::onEntryChanged), bind(i));
                break;
            case ControlKind::ComboBox:
                w = gtk_combo_box_text_new();
                limitComboWidth(w, c.width);
                g_signal_connect(w, "changed", G_CALLBACK(&DialogView::onComboChanged), bind(i));
                break;
            case ControlKind::Bitmap:
            case ControlKind::Icon:
                if (GdkPixbuf* pixbuf = pixbufFrom(c.image)) {
                    w = gtk_image_new_from_pixbuf(pixbuf);
                    g_object_unref(pixbuf);
                } else {
                    w = gtk_image_new();
                }
                break;
            }
            if (c.kind != ControlKind::RadioButton && c.groupStart)
                groupHidden = nullptr;
            e.widget = w;
            gtk_widget_set_size_request(w, c.width, c.height);
            gtk_fixed_put(GTK_FIXED(fixed), w, c.x, c.y);
        }
        gtk_widget_show_all(fixed);
        for (size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].kind == ControlKind::DefaultPushButton) {
                gtk_widget_grab_default(entries_[i].widget);
                break;
            }
    }

    // Brings every widget in line with the control state; signals raised
    // by the changes are ignored.
    void sync()
    {
        syncing_ = true;
        const std::string title = utf8(host_.caption());
        if (title != gtk_window_get_title(GTK_WINDOW(window_)))
            gtk_window_set_title(GTK_WINDOW(window_), title.c_str());
        for (size_t i = 0; i < entries_.size(); ++i)
            syncControl(i);
        if (host_.visible() && !host_.ended()) {
            if (!gtk_widget_get_visible(window_))
                gtk_widget_show(window_);
        } else if (gtk_widget_get_visible(window_)) {
            gtk_widget_hide(window_);
        }
        syncing_ = false;
    }

    void syncControl(size_t i)
    {
        Entry& e = entries_[i];
        const ControlState c = host_.control(i);
        GtkWidget* w = e.widget;
        const bool first = !e.built;
        ControlState& old = e.shown;
        const bool visible = c.exists && c.visible;
        if (first || visible != (old.exists && old.visible))
            gtk_widget_set_visible(w, visible);
        if (first || c.enabled != old.enabled)
            gtk_widget_set_sensitive(w, c.enabled);
        switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
            if (!first && c.text != old.text)
                gtk_button_set_label(GTK_BUTTON(w), utf8(mnemonicText(c.text)).c_str());
            break;
        case ControlKind::CheckBox:
            if (!first && c.text != old.text)
                gtk_button_set_label(GTK_BUTTON(w), utf8(mnemonicText(c.text)).c_str());
            if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)) != (c.check != 0))
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), c.check != 0);
            break;
        case ControlKind::RadioButton:
            if (!first && c.text != old.text)
                gtk_button_set_label(GTK_BUTTON(w), utf8(mnemonicText(c.text)).c_str());
            if (c.check && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)))
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), TRUE);
            else if (!c.check && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)) && e.groupHidden)
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(e.groupHidden), TRUE);
            break;
        case ControlKind::GroupBox:
            if (!first && c.text != old.text)
                gtk_frame_set_label(GTK_FRAME(w), utf8(plainText(c.text)).c_str());
            break;
        case ControlKind::Label:
            if (!first && c.text != old.text)
                gtk_label_set_text(GTK_LABEL(w), utf8(plainText(c.text)).c_str());
            break;
        case ControlKind::Edit:
            if (utf8(c.text) != gtk_entry_get_text(GTK_ENTRY(w)))
                gtk_entry_set_text(GTK_ENTRY(w), utf8(c.text).c_str());
            break;
        case ControlKind::ComboBox:
            if (first || c.items != old.items) {
                gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(w));
                for (const std::string& item : c.items)
                    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w), utf8(item).c_str());
            }
            if (gtk_combo_box_get_active(GTK_COMBO_BOX(w)) != c.selection)
                gtk_combo_box_set_active(GTK_COMBO_BOX(w), c.selection);
            break;
        case ControlKind::Bitmap:
        case ControlKind::Icon:
            break;
        }
        old = c;
        e.built = true;
    }

    void afterInput()
    {
        if (!host_.ended())
            sync();
    }

    static void onClicked(GtkButton*, gpointer data)
    {
        auto* b = static_cast<Binding*>(data);
        if (b->view->syncing_)
            return;
        b->view->host_.click(b->index);
        b->view->afterInput();
    }

    static void onToggled(GtkToggleButton* button, gpointer data)
    {
        auto* b = static_cast<Binding*>(data);
        if (b->view->syncing_)
            return;
        // A radio button that lost its tick because another one was clicked
        // reports nothing: the click on the other one does.
        if (b->view->entries_[b->index].kind == ControlKind::RadioButton && !gtk_toggle_button_get_active(button))
            return;
        b->view->host_.click(b->index);
        b->view->afterInput();
    }

    static void onEntryChanged(GtkEditable* editable, gpointer data)
    {
        auto* b = static_cast<Binding*>(data);
        if (b->view->syncing_)
            return;
        b->view->host_.edit(b->index, gtk_entry_get_text(GTK_ENTRY(editable)));
        b->view->afterInput();
    }

    static void onComboChanged(GtkComboBox* combo, gpointer data)
    {
        auto* b = static_cast<Binding*>(data);
        const int active = gtk_combo_box_get_active(combo);
        if (b->view->syncing_ || active < 0)
            return;
        b->view->host_.pick(b->index, active);
        b->view->afterInput();
    }

    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data)
    {
        auto* view = static_cast<DialogView*>(data);
        view->host_.closeRequested();
        view->afterInput();
        return TRUE; // the dialog decides whether it ends
    }

    static gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data)
    {
        if (event->keyval != GDK_KEY_Escape)
            return FALSE;
        auto* view = static_cast<DialogView*>(data);
        view->host_.escapePressed();
        view->afterInput();
        return TRUE;
    }

    static gboolean onDraw(GtkWidget*, cairo_t*, gpointer data)
    {
        auto* view = static_cast<DialogView*>(data);
        if (!view->presented_) {
            view->presented_ = true;
            view->presentIdle_ = g_idle_add(&DialogView::onPresented, view);
        }
        return FALSE;
    }

    static gboolean onPresented(gpointer data)
    {
        auto* view = static_cast<DialogView*>(data);
        view->presentIdle_ = 0;
        gdk_display_sync(gtk_widget_get_display(view->window_));
        view->host_.presented();
        return G_SOURCE_REMOVE;
    }

    // Plays a queued action on its widget; the widget's signal then takes
    // the same path as a real click, pick or keystroke.
    void perform(const platform::desktop::UserAction& action)
    {
        using platform::desktop::UserAction;
        if (action.kind == UserAction::Close) {
            gtk_window_close(GTK_WINDOW(window_));
            return;
        }
        if (action.index >= entries_.size())
            return;
        GtkWidget* w = entries_[action.index].widget;
        switch (action.kind) {
        case UserAction::Press:
            if (GTK_IS_BUTTON(w))
                gtk_button_clicked(GTK_BUTTON(w));
            break;
        case UserAction::Toggle:
            if (GTK_IS_TOGGLE_BUTTON(w))
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)));
            break;
        case UserAction::Select:
            if (GTK_IS_COMBO_BOX(w))
                gtk_combo_box_set_active(GTK_COMBO_BOX(w), action.item);
            break;
        case UserAction::Type:
            if (GTK_IS_ENTRY(w))
                gtk_entry_set_text(GTK_ENTRY(w), utf8(action.text).c_str());
            break;
        case UserAction::Close:
            break;
        }
    }

    static gboolean onTick(gpointer data)
    {
        auto* view = static_cast<DialogView*>(data);
        platform::desktop::UserAction action;
        while (!view->host_.ended() && view->host_.nextAction(action))
            view->perform(action);
        if (!view->host_.ended())
            view->sync();
        return G_SOURCE_CONTINUE;
    }
};

void drainEvents()
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

class GtkBackend final : public platform::desktop::Backend {
public:
    bool initialise() override
    {
        if (initialised_)
            return true;
        int argc = 0;
        char** argv = nullptr;
        initialised_ = gtk_init_check(&argc, &argv) != 0;
        return initialised_;
    }

    void runDialog(DialogHost& host) override
    {
        DialogView view(host);
        DialogView* outer = view_;
        view_ = &view;
        view.run();
        view_ = outer;
    }

    int messageBox(const std::string& text, const std::string& caption, unsigned type) override
    {
        GtkMessageType kind = GTK_MESSAGE_OTHER;
        switch (type & 0xF0) {
        case MB_ICONHAND:
            kind = GTK_MESSAGE_ERROR;
            break;
        case MB_ICONQUESTION:
            kind = GTK_MESSAGE_QUESTION;
            break;
        case MB_ICONEXCLAMATION:
            kind = GTK_MESSAGE_WARNING;
            break;
        case MB_ICONINFORMATION:
            kind = GTK_MESSAGE_INFO;
            break;
        default:
            break;
        }
        GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, kind, GTK_BUTTONS_NONE, "%s",
                                                utf8(text).c_str());
        gtk_window_set_title(GTK_WINDOW(box), utf8(caption).c_str());
        gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
        const unsigned buttons = type & 0xF;
        int closeAnswer = IDOK;
        switch (buttons) {
        case MB_OKCANCEL:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "_Cancel", IDCANCEL, "_OK", IDOK, nullptr);
            gtk_dialog_set_default_response(GTK_DIALOG(box), IDOK);
            closeAnswer = IDCANCEL;
            break;
        case MB_YESNO:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "_No", IDNO, "_Yes", IDYES, nullptr);
            gtk_dialog_set_default_response(GTK_DIALOG(box), IDYES);
            closeAnswer = IDNO;
            break;
        default:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "_OK", IDOK, nullptr);
            gtk_dialog_set_default_response(GTK_DIALOG(box), IDOK);
            break;
        }
        const int response = runModal(GTK_DIALOG(box));
        gtk_widget_destroy(box);
        drainEvents();
        return response > 0 ? response : closeAnswer;
    }

    bool saveFile(const platform::desktop::SaveFileRequest& request, std::string& path) override
    {
        GtkWidget* chooser = gtk_file_chooser_dialog_new(utf8(request.title).c_str(), nullptr,
                                                         GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
                                                         GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
        GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
        gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
        g_signal_connect(fc, "confirm-overwrite", G_CALLBACK(&GtkBackend::onConfirmOverwrite), nullptr);
        for (const auto& [name, patterns] : request.filters) {
            GtkFileFilter* filter = gtk_file_filter_new();
            gtk_file_filter_set_name(filter, utf8(name).c_str());
            size_t start = 0;
            while (start <= patterns.size()) {
                size_t end = patterns.find(';', start);
                if (end == std::string::npos)
                    end = patterns.size();
                const std::string pattern = patterns.substr(start, end - start);
                if (!pattern.empty())
                    gtk_file_filter_add_pattern(filter, pattern.c_str());
                start = end + 1;
            }
            gtk_file_chooser_add_filter(fc, filter);
        }
        if (!request.initialFolder.empty())
            gtk_file_chooser_set_current_folder(fc, request.initialFolder.c_str());
        if (!request.initialName.empty())
            gtk_file_chooser_set_current_name(fc, utf8(request.initialName).c_str());
        const bool accepted = runModal(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT;
        if (accepted) {
            gchar* name = gtk_file_chooser_get_filename(fc);
            path = name ? name : "";
            g_free(name);
        }
        gtk_widget_destroy(chooser);
        drainEvents();
        return accepted && !path.empty();
    }

    void interrupt() override
    {
        // Thread-safe: the callback runs in the toolkit's loop, which the
        // open box or dialog is running.
        g_idle_add(&GtkBackend::onInterrupt, this);
    }

private:
    int runModal(GtkDialog* dialog)
    {
        GtkDialog* outer = modal_;
        modal_ = dialog;
        const int response = gtk_dialog_run(dialog);
        modal_ = outer;
        return response;
    }

    // The question is about the name chosen: a link there would have its
    // target replaced, a FIFO or a device is no file at all. Such a name is
    // refused before anyone is asked, and the user chooses again.
    static GtkFileChooserConfirmation onConfirmOverwrite(GtkFileChooser* chooser, gpointer)
    {
        gchar* name = gtk_file_chooser_get_filename(chooser);
        struct stat st {};
        const bool refused = name && ::lstat(name, &st) == 0 && !S_ISREG(st.st_mode);
        if (refused) {
            GtkWidget* box = gtk_message_dialog_new(
                GTK_WINDOW(chooser), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
                S_ISLNK(st.st_mode) ? "\"%s\" is a symbolic link: choose another name."
                                    : "\"%s\" is not a regular file: choose another name.",
                name);
            gtk_dialog_run(GTK_DIALOG(box));
            gtk_widget_destroy(box);
        }
        g_free(name);
        return refused ? GTK_FILE_CHOOSER_CONFIRMATION_SELECT_AGAIN : GTK_FILE_CHOOSER_CONFIRMATION_CONFIRM;
    }

    static gboolean onInterrupt(gpointer data)
    {
        auto* self = static_cast<GtkBackend*>(data);
        if (self->modal_)
            gtk_dialog_response(self->modal_, GTK_RESPONSE_DELETE_EVENT);
        else if (self->view_)
            self->view_->close();
        return G_SOURCE_REMOVE;
    }

    bool initialised_ = false;
    GtkDialog* modal_ = nullptr;  // the box or chooser on show
    DialogView* view_ = nullptr;  // the dialog on show
};

} // namespace

extern "C" __attribute__((visibility("default"))) platform::desktop::Backend* quillon_desktop_backend()
{
    static GtkBackend backend;
    return &backend;
}
