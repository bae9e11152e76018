// The question a web page's first call puts to the user: may this site use the signing
// component? A modal GTK window naming the site, with "Deny" focused and the default, so that a
// key pressed by habit while the window appears refuses rather than allows.
#include "frontends.h"
#include "gtk_window.h"
#include "l10n.h"

#include <gtk/gtk.h>
#include <qbconsent.h>

#include <memory>

namespace qb::cryptdlg {
namespace {

// What the site asks for now, in words a person can judge.
std::string Request(DWORD use, const std::string& origin) {
  switch (use) {
    case QB_SITE_USE_TRANSFORM:
      return Tr(QB_N_("%s wants to use the signing component to transform a document."), origin);
    case QB_SITE_USE_CHOOSE_CERTIFICATE:
      return Tr(QB_N_("%s wants to see your certificates and let you choose one to sign with."), origin);
    default:
      return Tr(QB_N_("%s wants to sign a document with your certificate."), origin);
  }
}

GtkWidget* WrappedLabel(const std::string& text) {
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  return label;
}

}  // namespace

ConsentChoice AskConsentInWindow(const std::string& origin, DWORD use) {
  GtkWidget* window = gtk_dialog_new_with_buttons(Tr(QB_N_("Allow this site to sign?")).c_str(), nullptr,
                                                  GTK_DIALOG_MODAL, nullptr, nullptr);
  DialogWindow dialog(window);
  GtkWidget* deny = gtk_dialog_add_button(dialog.get(), Tr(QB_N_("_Deny")).c_str(), GTK_RESPONSE_REJECT);
  gtk_dialog_add_button(dialog.get(), Tr(QB_N_("Allow _once")).c_str(), GTK_RESPONSE_ACCEPT);
  gtk_dialog_add_button(dialog.get(), Tr(QB_N_("Al_ways allow")).c_str(), GTK_RESPONSE_YES);
  gtk_dialog_set_default_response(dialog.get(), GTK_RESPONSE_REJECT);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
  gtk_container_set_border_width(GTK_CONTAINER(window), 6);

  GtkWidget* content = gtk_dialog_get_content_area(dialog.get());
  gtk_box_set_spacing(GTK_BOX(content), 8);
  // The site first and large: the name is what the user has to judge.
  GtkWidget* site = gtk_label_new(nullptr);
  const std::unique_ptr<gchar, decltype(&g_free)> markup(
      g_markup_printf_escaped("<span size=\"x-large\" weight=\"bold\">%s</span>", origin.c_str()), &g_free);
  gtk_label_set_markup(GTK_LABEL(site), markup.get());
  gtk_label_set_selectable(GTK_LABEL(site), FALSE);
  gtk_box_pack_start(GTK_BOX(content), site, FALSE, FALSE, 4);
  gtk_box_pack_start(GTK_BOX(content), WrappedLabel(Request(use, origin)), FALSE, FALSE, 0);
  gtk_box_pack_start(
      GTK_BOX(content),
      WrappedLabel(Tr(QB_N_("If you allow it, the site can sign documents with your certificates (each signature "
                            "still needs your certificate's password or PIN where it has one), show you the "
                            "certificate list and transform documents. Allow only a site you trust."))),
      FALSE, FALSE, 0);
  gtk_box_pack_start(
      GTK_BOX(content),
      WrappedLabel(Tr(QB_N_("\"Allow once\" lasts until the page closes; \"Always allow\" remembers the site "
                            "(quillbox browser deny ORIGIN forgets it)."))),
      FALSE, FALSE, 0);

  gtk_widget_show_all(window);
  gtk_widget_grab_focus(deny);
  gtk_window_present(GTK_WINDOW(window));
  switch (gtk_dialog_run(dialog.get())) {
    case GTK_RESPONSE_ACCEPT: return ConsentChoice::kOnce;
    case GTK_RESPONSE_YES: return ConsentChoice::kAlways;
    default: return ConsentChoice::kDenied;  // "Deny", Escape, the window closed
  }
}

}  // namespace qb::cryptdlg
