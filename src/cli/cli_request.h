#pragma once

#include "channels/channel_choice.h"
#include "commands/command_sequence.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <vector>

namespace pellicar {

struct FleetPlan;

// discover: what to scan and where the inventory goes.
struct DiscoverJob {
  QStringList ranges; // none: this machine only
  quint16 port = 9100;
  QString inventory; // empty: none written
};

// What a command does.
struct CliJob {
  enum class Kind {
    Report,    // prints `report` on standard output; sends nothing
    Commands,  // sends `sequences`, in order, as the dispatch does
    Stream,    // sends `sequences[0]` as one long transfer (logo, firmware)
    Status,    // asks the printer for its status and prints it
    WaitReady, // asks until the printer is ready or `waitReadyMs` ran out
    Fleet,     // apply --targets: sets up many printers (`fleet`)
    Discover,  // lists the printers this machine reaches (`discover`)
  };
  Kind kind = Kind::Report;
  QString command;   // the command's name, for messages
  bool help = false; // the report is a help text
  QString report;
  std::vector<CommandSequence> sequences;
  bool json = false;   // Status: one JSON object instead of lines
  int waitReadyMs = 0; // WaitReady, and a Stream with --wait-ready (0: no wait)
  DiscoverJob discover;
  // apply: the profile's sections, in order; each takes the next `count`
  // of `sequences`. Empty for every other command.
  struct Section {
    QString name;
    int count = 0;
  };
  std::vector<Section> sections;
  std::shared_ptr<const FleetPlan> fleet; // Fleet
};

// The whole command line.
struct CliRequest {
  ChannelChoice channel;
  int timeoutMs = 10000;
  CliJob job;
};

} // namespace pellicar
