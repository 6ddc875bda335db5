// PLACEHOLDER: matching logic.
