#pragma once
#include <ostream>
#include <string>
#include <vector>

// Exit statuses of pointfall-batch.
enum BatchExit : int {
    kBatchOk = 0,
    kBatchFailed = 1,    // a model that cannot be loaded, an output that cannot be written
    kBatchBadUsage = 2,  // a refused option or value; nothing was run or written
    kBatchRefused = 3,   // the run went on, but a step was refused as the desktop program refuses it
};

// Runs one survey as the desktop program would after the same menu actions
// and dialog entries: load the model, run the wizard's Done, the LiDAR
// simulation, the error step, and the saves asked for. args excludes the
// program name. The summary (and --help/--version) go to out; messages and,
// when showProgress is set and --quiet is not, the progress bars go to err.
// Returns one of BatchExit.
//
// With a team (several processes started together, see survey_team.h) every
// member calls it with the same arguments; the others' output streams are
// for nobody, and they return once their part of the cast is done.
class SurveyTeam;
int run_batch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress = false,
              SurveyTeam* team = nullptr);

