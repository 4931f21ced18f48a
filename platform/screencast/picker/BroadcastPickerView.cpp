#include "platform/screencast/picker/BroadcastPickerView.h"

#include <algorithm>
#include <string>

#include "platform/dispatch/Guarded.h"
#include "platform/screencast/picker/BroadcastChooserSheet.h"

namespace platform::screencast {
namespace {

struct PickerView {
  GtkWidget parent;
  char* preferredExtension;
  gboolean showsMicrophoneButton;
  GtkWidget* button;
  // Weak: cleared by GObject when the sheet goes away.
  GtkWindow* openSheet;
};

struct PickerViewClass {
  GtkWidgetClass parent;
};

enum Property : guint { kPropertyPreferredExtension = 1, kPropertyShowsMicrophoneButton };

// Set once when the type's class is made; GObject's way to chain up to the parent class.
GtkWidgetClass* parentClass = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

PickerView* asPicker(gpointer object) { return static_cast<PickerView*>(object); }

void forgetSheet(PickerView* self) {
  if (self->openSheet != nullptr) {
    g_object_remove_weak_pointer(G_OBJECT(self->openSheet), reinterpret_cast<gpointer*>(&self->openSheet));
    self->openSheet = nullptr;
  }
}

// A destroyed sheet is hidden at once but may be finalized later, when its last holder
// lets go; only a visible one counts as open.
GtkWindow* openSheet(PickerView* self) {
  if (self->openSheet != nullptr && gtk_widget_get_visible(GTK_WIDGET(self->openSheet)) == FALSE) {
    forgetSheet(self);
  }
  return self->openSheet;
}

// A second press while the sheet is open brings that sheet forward instead of stacking
// another one on top of it.
void showSheet(PickerView* self) {
  if (GtkWindow* sheet = openSheet(self)) {
    gtk_window_present(sheet);
    return;
  }
  GtkRoot* root = gtk_widget_get_root(&self->parent);
  GtkWindow* parent = root != nullptr && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
  const std::string extension = self->preferredExtension != nullptr ? self->preferredExtension : "";
  self->openSheet = BroadcastChooserSheet::present(parent, extension, self->showsMicrophoneButton != FALSE);
  g_object_add_weak_pointer(G_OBJECT(self->openSheet), reinterpret_cast<gpointer*>(&self->openSheet));
}

void onButtonClicked(GtkButton* /*button*/, gpointer picker) {
  // Out of memory: no sheet, as if the press had not happened.
  platform::dispatch::runGuarded([picker] { showSheet(asPicker(picker)); });
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  PickerView* self = asPicker(object);
  switch (id) {
    case kPropertyPreferredExtension:
      g_clear_pointer(&self->preferredExtension, g_free);
      self->preferredExtension = g_value_dup_string(value);
      break;
    case kPropertyShowsMicrophoneButton:
      self->showsMicrophoneButton = g_value_get_boolean(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  const PickerView* self = asPicker(object);
  switch (id) {
    case kPropertyPreferredExtension:
      g_value_set_string(value, self->preferredExtension);
      break;
    case kPropertyShowsMicrophoneButton:
      g_value_set_boolean(value, self->showsMicrophoneButton);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

// The picker asks for no room of its own: whoever places it decides its size.
void measure(GtkWidget* /*widget*/, GtkOrientation /*orientation*/, int /*forSize*/, int* minimum,
             int* natural, int* minimumBaseline, int* naturalBaseline) {
  *minimum = 0;
  *natural = 0;
  *minimumBaseline = -1;
  *naturalBaseline = -1;
}

// The button gets the picker's size, or its own minimum where that is larger; the picker
// clips it.
void sizeAllocate(GtkWidget* widget, int width, int height, int baseline) {
  GtkWidget* button = asPicker(widget)->button;
  int minimumWidth = 0;
  int minimumHeight = 0;
  gtk_widget_measure(button, GTK_ORIENTATION_HORIZONTAL, -1, &minimumWidth, nullptr, nullptr, nullptr);
  gtk_widget_measure(button, GTK_ORIENTATION_VERTICAL, -1, &minimumHeight, nullptr, nullptr, nullptr);
  gtk_widget_allocate(button, std::max(width, minimumWidth), std::max(height, minimumHeight), baseline,
                      nullptr);
}

void dispose(GObject* object) {
  PickerView* self = asPicker(object);
  forgetSheet(self);
  if (self->button != nullptr) {
    gtk_widget_unparent(self->button);
    self->button = nullptr;
  }
  G_OBJECT_CLASS(parentClass)->dispose(object);
}

void finalize(GObject* object) {
  PickerView* self = asPicker(object);
  g_clear_pointer(&self->preferredExtension, g_free);
  G_OBJECT_CLASS(parentClass)->finalize(object);
}

void initInstance(GTypeInstance* instance, gpointer /*klass*/) {
  PickerView* self = asPicker(instance);
  gtk_widget_set_overflow(&self->parent, GTK_OVERFLOW_HIDDEN);
  self->button = gtk_button_new();
  gtk_widget_set_parent(self->button, &self->parent);
  g_signal_connect(self->button, "clicked", G_CALLBACK(onButtonClicked), self);
}

void initClass(gpointer klass, gpointer /*data*/) {
  parentClass = GTK_WIDGET_CLASS(g_type_class_peek_parent(klass));
  GObjectClass* objectClass = G_OBJECT_CLASS(klass);
  objectClass->set_property = setProperty;
  objectClass->get_property = getProperty;
  objectClass->dispose = dispose;
  objectClass->finalize = finalize;
  GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
  widgetClass->measure = measure;
  widgetClass->size_allocate = sizeAllocate;

  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  g_object_class_install_property(
      objectClass, kPropertyPreferredExtension,
      g_param_spec_string(kPreferredExtensionProperty, "Preferred extension",
                          "Id of the broadcast extension the chooser sheet offers", nullptr, flags));
  g_object_class_install_property(
      objectClass, kPropertyShowsMicrophoneButton,
      g_param_spec_boolean(kShowsMicrophoneButtonProperty, "Shows microphone button",
                           "Whether the chooser sheet offers a microphone switch", FALSE, flags));
  gtk_widget_class_set_accessible_role(widgetClass, GTK_ACCESSIBLE_ROLE_GROUP);
}

}  // namespace

GType broadcastPickerViewType() {
  static const GType type = g_type_register_static_simple(
      GTK_TYPE_WIDGET, g_intern_static_string("SornBroadcastPickerView"), sizeof(PickerViewClass), initClass,
      sizeof(PickerView), initInstance, G_TYPE_FLAG_FINAL);
  return type;
}

GtkWidget* createBroadcastPickerView() {
  return GTK_WIDGET(g_object_new(broadcastPickerViewType(), nullptr));
}

GtkWindow* broadcastPickerOpenSheet(GtkWidget* picker) {
  if (!G_TYPE_CHECK_INSTANCE_TYPE(picker, broadcastPickerViewType())) return nullptr;
  return openSheet(asPicker(picker));
}

}  // namespace platform::screencast
