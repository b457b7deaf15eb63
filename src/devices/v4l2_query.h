// The device settings read and written through a node's requests (controls, inputs, formats, tuner).
#pragma once

#include <cstdint>
#include <linux/videodev2.h>
#include <string>
#include <vector>

#include "devices/controls_desc.h"
#include "devices/v4l2_node.h"

namespace ulmora {

// The node's inputs in index order; an errno value when not even the first can be read.
int V4l2EnumInputs(IV4l2Node& node, std::vector<v4l2_input>* inputs);

// VIDIOC_QUERY_EXT_CTRL (with V4L2_CTRL_FLAG_NEXT_CTRL when asked), answered through
// VIDIOC_QUERYCTRL by drivers that predate the extended request.
int V4l2QueryControl(IV4l2Node& node, v4l2_query_ext_ctrl* query);

// One control's current value; 0 or an errno value (EACCES for write-only controls).
int V4l2GetControl(IV4l2Node& node, uint32_t nId, int64_t* pnValue);
// Sets one control, live; buttons are pressed by setting any value. *pnApplied (when given) gets the
// value the device applied: drivers clamp, round to the step and mask bitmasks.
int V4l2SetControl(IV4l2Node& node, uint32_t nId, int64_t nValue, int64_t* pnApplied = nullptr);
// The same for a control queried already: one request to the device.
int V4l2SetQueriedControl(IV4l2Node& node, const v4l2_query_ext_ctrl& query, int64_t nValue,
                          int64_t* pnApplied = nullptr);

// Whether the node has a control a dialog can show, or something "Video Source..." can choose;
// cheap: nothing is read beyond the first answer.
bool V4l2HasControls(IV4l2Node& node);
bool V4l2HasSourceChoices(IV4l2Node& node);

// Every control a dialog can show, grouped by class, with menus and current values.
int V4l2DescribeControls(IV4l2Node& node, std::vector<ControlGroupDescription>* groups);

// Every control back to its default, manual values before automatic modes, leaving what an automatic
// mode rules once it is back, and actions alone. The first errno value; *pbValueRefused tells a value
// the device refused from a failed query.
int V4l2ResetControls(IV4l2Node& node, bool* pbValueRefused);

// Standards of the current input (the current one as listed, though the driver names a member of
// it) and every capture format with its sizes and rates; a driver that enumerates no sizes gets the
// range TRY_FMT allows at the standard's rate.
int V4l2DescribeSource(IV4l2Node& node, VideoSourceDescription* source);

// The tuner of the current input (tuner 0 when the input names none), with its frequency.
int V4l2DescribeTuner(IV4l2Node& node, TunerDescription* tuner);
int V4l2SetFrequency(IV4l2Node& node, uint64_t nHz);
int V4l2SetAudioMode(IV4l2Node& node, uint32_t nMode);

// The errno text for a log line or a message.
std::string V4l2ErrorText(int err);

}  // namespace ulmora
