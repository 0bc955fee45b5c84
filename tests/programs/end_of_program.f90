! Reaching END PROGRAM ends with status 0.
program end_of_program
  implicit none
  integer :: i
  i = 1
end program end_of_program
