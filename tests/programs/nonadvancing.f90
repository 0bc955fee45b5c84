! Non-advancing output builds one record from several statements.
program nonadvancing
  implicit none
  integer :: i
  character(len=4) :: adv = 'no  '
  do i = 1, 3
    write (*, '(i2)', advance='no') i
  end do
  write (*, '(a)') ' end'
  write (*, '(a)', advance=adv) 'x'
  write (*, '(a)') 'y'
end program nonadvancing
