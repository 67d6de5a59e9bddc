#include "app/formdesign.h"

#include <array>

namespace qf {

namespace {

constexpr DesignColour black = rgb(0, 0, 0);
constexpr DesignColour white = rgb(255, 255, 255);
constexpr DesignColour formGrey = rgb(206, 207, 197);
constexpr DesignColour valueYellow = rgb(255, 255, 128);
constexpr DesignColour titleBar = systemColour(2);
constexpr DesignColour windowText = systemColour(8);
constexpr DesignColour activeBorder = systemColour(10);
constexpr DesignColour highlightText = systemColour(14);
constexpr DesignColour standard = standardColour();

constexpr DesignFont arial8{"Arial", 8.25};
constexpr DesignFont arial9{"Arial", 9.75};
constexpr DesignFont arial14Bold{"Arial", 14.25, true};
constexpr DesignFont arial18Bold{"Arial", 18, true};

constexpr WindowDesign form1{
    "Form1", "Quillfern", {3480, 540, 12105, 9675}, formGrey, {"Courier New", 11.25, true}};

// The serial control MSComm1 is the serial component itself, not a widget.
// The data control Data1 and the pictures hof and hon lie below the client
// area, are never seen and are used by nothing: they are not built.
constexpr auto controls = std::to_array<ControlDesign>({
    // clang-format off
    // name          kind                        in           left   top    width  height  tab caption               font             text colour    background
    {"Frame3",       ControlKind::Frame,         "Form1",     {7080,  6480,  2535, 3135}, 29, "Relay Controller",    windowFont,      standard,      activeBorder},
    {"Command3",     ControlKind::CommandButton, "Frame3",    { 600,  1800,  1455,  615}, 31, "OFF",                 windowFont,      standard,      standard},
    {"Command2",     ControlKind::CommandButton, "Frame3",    { 600,   960,  1455,  615}, 30, "ON",                  windowFont,      standard,      standard},
    {"Frame2(2)",    ControlKind::Frame,         "Form1",     {7080,  3240,  2415, 3135}, 24, "Sensor3",             windowFont,      titleBar,      formGrey},
    {"Label1(2)",    ControlKind::Label,         "Frame2(2)", {1320,  1080,   495,  855}, 28, "",                    arial14Bold,     valueYellow,   black,        LabelStyle::Fitted},
    {"Label2(2)",    ControlKind::Label,         "Frame2(2)", { 120,  1440,  1215,  375}, 27, "Temperature:",        arial9,          black,         activeBorder},
    {"Label14(2)",   ControlKind::Label,         "Frame2(2)", {1800,  1080,   375,  855}, 25, "°c",                  arial18Bold,     white,         black},
    {"Frame1",       ControlKind::Frame,         "Form1",     {9600,  6480,  2415, 3135}, 16, "Communication ",      windowFont,      rgb(255, 0, 0), formGrey},
    {"Command1",     ControlKind::CommandButton, "Frame1",    { 480,  2640,  1455,  375}, 23, "Delete all Records",  arial8,          standard,      standard},
    {"exit",         ControlKind::CommandButton, "Frame1",    { 480,  2040,  1455,  375}, 22, "EXIT",                arial8,          standard,      standard},
    {"stopcmd",      ControlKind::CommandButton, "Frame1",    { 480,  1560,  1455,  375}, 21, "STOP",                arial8,          standard,      standard},
    {"Start",        ControlKind::CommandButton, "Frame1",    { 480,   960,  1455,  375}, 20, "START",               arial8,          standard,      standard},
    {"Text4",        ControlKind::TextBox,       "Frame1",    {1200,   360,   495,  375}, 18, "",                    windowFont,      standard,      standard},
    {"VScroll3",     ControlKind::VScrollBar,    "Frame1",    {1680,   360,   255,  375}, 17, "",                    windowFont,      standard,      standard,     LabelStyle::Plain, 1, 12},
    {"Label55",      ControlKind::Label,         "Frame1",    { 480,   360,   615,  375}, 19, "COM:",                {"Courier New", 14.25, true}, black, formGrey},
    {"Frame2(3)",    ControlKind::Frame,         "Form1",     {9600,  3240,  2415, 3135}, 13, "Sensor4",             windowFont,      titleBar,      formGrey},
    {"Label14(3)",   ControlKind::Label,         "Frame2(3)", {1920,  1080,   375,  855}, 26, "°c",                  arial14Bold,     white,         black},
    {"Label2(3)",    ControlKind::Label,         "Frame2(3)", { 120,  1440,  1215,  375}, 15, "Vibration:",          arial9,          black,         activeBorder},
    {"Label1(3)",    ControlKind::Label,         "Frame2(3)", {1440,  1080,   495,  855}, 14, "",                    arial14Bold,     valueYellow,   black,        LabelStyle::Fitted},
    {"Frame2(1)",    ControlKind::Frame,         "Form1",     {9600,     0,  2415, 3135},  9, "Sensor2",             windowFont,      titleBar,      formGrey},
    {"Label14(1)",   ControlKind::Label,         "Frame2(1)", {1920,  1200,   375,  855}, 12, "°c",                  arial14Bold,     highlightText, windowText,   LabelStyle::Centred},
    {"Label2(1)",    ControlKind::Label,         "Frame2(1)", { 120,  1440,  1215,  375}, 11, "Temperature:",        arial9,          black,         activeBorder},
    {"Label1(1)",    ControlKind::Label,         "Frame2(1)", {1440,  1200,   495,  855}, 10, "",                    arial14Bold,     valueYellow,   black,        LabelStyle::Fitted},
    {"Frame2(0)",    ControlKind::Frame,         "Form1",     {7080,     0,  2415, 3135},  5, "Sensor1",             windowFont,      titleBar,      formGrey},
    {"Label1(0)",    ControlKind::Label,         "Frame2(0)", {1320,  1200,   495,  855},  8, "",                    arial14Bold,     valueYellow,   black,        LabelStyle::Fitted},
    {"Label2(0)",    ControlKind::Label,         "Frame2(0)", { 120,  1440,  1215,  495},  7, "Temperature:",        arial9,          black,         activeBorder},
    {"Label14(0)",   ControlKind::Label,         "Frame2(0)", {1800,  1200,   375,  855},  6, "°c",                  arial14Bold,     white,         black},
    {"Text2",        ControlKind::TextBox,       "Form1",     {1440, 10560,  3480,  480},  1, "",                    arial8,          standard,      standard},
    {"Text3",        ControlKind::TextBox,       "Form1",     {   0, 10680,  1335,  285},  0, "Text3",               arial8,          standard,      standard},
    {"fg",           ControlKind::Grid,          "Form1",     {   0,   480,  6975, 8775},  4, "",                    {"Segoe UI", 9, true, true}, standard, standard},
    {"totalrec",     ControlKind::Label,         "Form1",     {1200,  7200,  2295,  375},  3, "",                    {"MS Sans Serif", 9.75, true}, rgb(191, 123, 40), formGrey},
    {"Label17",      ControlKind::Label,         "Form1",     {   0,     0,  6975,  495},  2, " DATA RECORD",        {"Bauhaus 93", 20.25, true}, black, rgb(192, 255, 255), LabelStyle::Bordered},
    // clang-format on
});

} // namespace

const WindowDesign &form1Design()
{
    return form1;
}

std::span<const ControlDesign> form1Controls()
{
    return controls;
}

} // namespace qf
