// Placeholder; filled in by the change that needs it.
