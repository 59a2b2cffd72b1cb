#pragma once

// The production panel on a window over a virtual programmer: the chips, files and logs its
// tests share.
#include <QApplication>
#include <QFile>
#include <QtTest>
#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "WindowFixture.h"
#include "device/Catalogue.h"
#include "gui/ProductionPanel.h"

using tandra::VirtualProgrammer;

// A 27C256's image of random bytes, with room for a serial number at 7FF0.
inline QByteArray randomImage() {
  std::mt19937 random(7);
  QByteArray bytes(0x8000, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  bytes.replace(0x7FF0, 4, QByteArray(4, '\xFF'));
  return bytes;
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

inline int listRow(const char* name) {
  for (const tandra::Chip& type : tandra::chips()) {
    if (type.name == name) return type.row();
  }
  return -1;
}

// The new chips an operator puts in for a set: blank ones, and in the second set a chip in
// socket 3 with a bit stuck at 0 where the image wants a 1.
inline void changeChips(VirtualProgrammer& programmer, int set, int stuckBit) {
  for (int socket = 1; socket <= 5; ++socket) programmer.socket(socket).emplace();
  if (set == 2) programmer.chip(3).setStuckBit(0x100, stuckBit, false);
}

// A log's lines, without the time each was written. Both programs run in this one process, so
// they share its run id and computer: those must be equal too.
inline std::vector<nlohmann::json> linesOf(const QString& path) {
  std::ifstream log(path.toStdString());
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(log, line);) {
    nlohmann::json fields = nlohmann::json::parse(line);
    fields.erase("time");
    lines.push_back(std::move(fields));
  }
  return lines;
}

inline int programCommands(const VirtualProgrammer& programmer) {
  int pages = 0;
  for (const auto& packet : programmer.packets()) pages += packet[0] == 0x43;
  return pages;
}

// The boxes a USB call's failure raises ("FT_Write - General IO Error...").
inline int usbErrorBoxes(const QStringList& boxes) {
  return static_cast<int>(std::count_if(boxes.begin(), boxes.end(), [](const QString& box) {
    return box.contains(" - General IO Error") || box.contains(" - Device Not");
  }));
}

class PanelFixture : public WindowFixture {
 protected:
  ProductionPanel* openPanel(TMainForm& form) {
    QTest::keyClick(&form, Qt::Key_T, Qt::AltModifier);
    ProductionPanel* panel = form.productionPanel();
    if (panel == nullptr || !QTest::qWaitForWindowExposed(panel)) return nullptr;
    QApplication::setActiveWindow(panel);
    return panel;
  }
};
