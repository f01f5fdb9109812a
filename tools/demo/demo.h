// Parts of the measure-demo host program, one per library. Each loads its
// library by name, runs it on signals it synthesizes, prints what it measured
// beside what it should have measured, and returns whether all went well.
#pragma once

bool run_quenbar_demo();
bool run_lumetra_demo();
