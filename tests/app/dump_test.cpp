#include "app/about_form.h"
#include "app/edit_track_name.h"
#include "app/main_form.h"
#include "app/no_device_hint.h"
#include "core/translate_form.h"
#include "support/scripted_prompter.h"
#include "support/temp_home.h"
#include <gtest/gtest.h>
#include <cstdio>
static void Dump(QWidget* w) {
    QString last;
    ForEachFormText(w, [&](TFormText& t) {
        if (t.Section != last) { std::printf("\n[%s]\n", qPrintable(t.Section)); last = t.Section; }
        std::printf("%s=%s\n", qPrintable(t.Key), qPrintable(t.Text));
    });
}
TEST(Dump, All) {
    TTempHome home;
    TScriptedPrompter p;
    TMainForm f(&p); Dump(&f);
    TfrmEditTrackName e; Dump(&e);
    TfrmNoDeviceHint h; Dump(&h);
    TfrmAbout a; Dump(&a);
}
